#include "platform/machine/wine_fonts.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "platform/temp_prefix.h"
#include "scan/scanners/file_list_scanners.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::TempPrefix;

// A Wine build of its own in a temporary folder: bin/wine and share/wine/fonts beside it,
// found through PATH as the user's shell would find it.
class WineFontsTest : public ::testing::Test {
  protected:
    WineFontsTest() {
        const char* old = std::getenv("PATH");
        oldPath_ = old ? old : "";
        wine_.File("../opt/wine/bin/wine", "#!/bin/sh\n");
        wine_.File("../opt/wine/share/wine/fonts/hwshipped.fon", "font");
        ::setenv("PATH", (Bin().string() + ":" + oldPath_).c_str(), 1);
    }
    ~WineFontsTest() override { ::setenv("PATH", oldPath_.c_str(), 1); }
    fs::path Bin() const { return wine_.Dir() / "opt/wine/bin"; }

    std::vector<std::string> ScanFontsOf(std::string_view sections) {
        TempPrefix prefix;
        prefix.SystemReg(sections);
        prefix.File("windows/Fonts/inprefix.ttf");
        auto machine = prefix.Load({.lockPrefix = false, .readOnly = true});
        EXPECT_TRUE(machine) << prefix.LastError();
        if (!machine) return {};
        std::vector<std::string> found;
        for (const Problem& p : testing::RunScanner(*machine, ScanFonts).found)
            found.emplace_back(p.ValueData());
        return found;
    }

    TempPrefix wine_;
    std::string oldPath_;
};

constexpr std::string_view kFontValues = R"reg(
[Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts] 1700000000
"Shipped"="HWShipped.FON"
"In prefix (TrueType)"="inprefix.ttf"
"Gone"="hwgone.fon"
"Full path"="C:\\elsewhere\\hwshipped.fon"
)reg";

TEST_F(WineFontsTest, ABareNameWineShipsCountsOnAWinePrefixOnly) {
    std::string wineKey = "\n[Software\\\\Wine] 1700000000\n";
    std::vector<std::string> expected = {"C:\\windows\\Fonts\\hwgone.fon",
                                         "C:\\windows\\Fonts\\C:\\elsewhere\\hwshipped.fon"};
    EXPECT_EQ(ScanFontsOf(std::string(kFontValues) + wineKey), expected);

    // A machine Wine did not make has no Wine fonts: reported exactly as before.
    expected.insert(expected.begin(), "C:\\windows\\Fonts\\HWShipped.FON");
    EXPECT_EQ(ScanFontsOf(kFontValues), expected);
}

TEST_F(WineFontsTest, FoldersBesideTheWineProgramThroughItsLinks) {
    // A link to the program (as /usr/bin/wine of some packages) leads to its real folder.
    fs::create_directories(wine_.Dir() / "links");
    fs::create_symlink(Bin() / "wine", wine_.Dir() / "links/wine");
    auto folders = WineFontFolders((wine_.Dir() / "links").string() + "::relative/bin");
    fs::path expected = (wine_.Dir() / "opt/wine/share/wine/fonts").lexically_normal();
    EXPECT_NE(std::find(folders.begin(), folders.end(), expected), folders.end());

    WineFonts fonts({expected});
    EXPECT_TRUE(fonts.Ships("hwshipped.fon"));
    EXPECT_TRUE(fonts.Ships("HWSHIPPED.FON"));
    EXPECT_FALSE(fonts.Ships("C:\\windows\\Fonts\\hwshipped.fon"));
    EXPECT_FALSE(fonts.Ships("sub/hwshipped.fon"));
    EXPECT_FALSE(fonts.Ships(""));
}

}  // namespace
}  // namespace hivewise
