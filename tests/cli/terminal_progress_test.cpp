#include "cli/terminal_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace hivewise::cli {
namespace {

TEST(TerminalProgress, DrawsOneLineAndClearsIt) {
    std::ostringstream err;
    {
        TerminalProgress progress(err, true);
        progress.Show(1, 4, "Sound Events");
        progress.Show(2, 4, "Fonts");
        EXPECT_EQ(err.str(), "\r[ 25%] Sound Events\r[ 50%] Fonts       ");
        err.str("");
    }
    EXPECT_EQ(err.str(), "\r" + std::string(19, ' ') + "\r");  // cleared at the end
}

TEST(TerminalProgress, StepsDrawOnlyWhenThePercentageChanges) {
    std::ostringstream err;
    TerminalProgress progress(err, true);
    progress.Show(0, 20000, "Repair");
    for (int i = 0; i < 20000; ++i)
        progress.Step(20000);
    std::string drawn = err.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 101);
    EXPECT_EQ(drawn.substr(drawn.size() - 14), "\r[100%] Repair");
}

TEST(TerminalProgress, HiddenDrawsNothingAndTextFromOutsideIsTamed) {
    std::ostringstream hidden;
    {
        TerminalProgress progress(hidden, false);
        progress.Show(1, 2, "x");
        progress.Step(2);
    }
    EXPECT_EQ(hidden.str(), "");

    std::ostringstream err;
    TerminalProgress progress(err, true);
    progress.Show(0, 0, "key\x1B]0;title\x07" + std::string(100, 'k'));
    EXPECT_EQ(err.str().find('\x1B'), std::string::npos);
    EXPECT_EQ(err.str().substr(0, 8), "\r[  0%] ");
    EXPECT_LE(err.str().size(), 1 + 7 + 60u);
}

}  // namespace
}  // namespace hivewise::cli
