#include <iostream>

#include "cli/cli.h"
#include "platform/machine/local_time.h"
#include "platform/registry/process_heap.h"

int main(int argc, char** argv) {
    hivewise::PrepareProcessHeap();
    hivewise::ReadTimeZoneOnce();
    return hivewise::RunCli(argc, argv, std::cin, std::cout, std::cerr,
                            /*processEndsAfter=*/true);
}
