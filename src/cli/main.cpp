#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
    return hivewise::RunCli(argc, argv, std::cin, std::cout, std::cerr,
                            /*processEndsAfter=*/true);
}
