#include "platform/files/folder_walk.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

TEST(FolderWalk, LinksBackUpTheTreeAreReportedNotEntered) {
    testing::TempPrefix p;
    p.File("users/me/Desktop/a.lnk");
    // As Wine links profile folders into the home folder that holds the prefix.
    fs::create_directory_symlink(p.Dir(), p.Dir() / "drive_c/users/me/Home");
    fs::create_directory_symlink(p.Dir() / "drive_c/users", p.Dir() / "drive_c/users/me/Up");
    fs::create_symlink(p.Dir() / "gone", p.Dir() / "drive_c/users/dangling");

    std::vector<std::string> seen;
    int revisited = 0;
    EXPECT_TRUE(WalkFolder(p.Dir() / "drive_c", [&](const WalkEntry& e) {
        seen.push_back(e.relative.string());
        if (e.revisited) ++revisited;
        return WalkAction::Continue;
    }));
    // Home leads to the prefix (walked once, through the link); Up and Home's own
    // drive_c lead to folders already walked.
    EXPECT_GE(revisited, 2);
    EXPECT_LT(seen.size(), 60u);
    EXPECT_NE(std::find(seen.begin(), seen.end(), "users/me/Desktop/a.lnk"), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), "users/dangling"), seen.end());
}

TEST(FolderWalk, VisitorSkipsAndStops) {
    testing::TempPrefix p;
    p.File("x/skip/inner.txt");
    p.File("x/keep/inner.txt");
    std::vector<std::string> seen;
    EXPECT_TRUE(WalkFolder(p.Dir() / "drive_c/x", [&](const WalkEntry& e) {
        seen.push_back(e.relative.string());
        return e.relative == "skip" ? WalkAction::SkipChildren : WalkAction::Continue;
    }));
    EXPECT_EQ(seen, (std::vector<std::string>{"keep", "skip", "keep/inner.txt"}));
    int count = 0;
    EXPECT_FALSE(WalkFolder(p.Dir() / "drive_c/x", [&](const WalkEntry&) {
        ++count;
        return WalkAction::Stop;
    }));
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(
        WalkFolder(p.Dir() / "nothing", [](const WalkEntry&) { return WalkAction::Continue; }));
}

TEST(FolderWalk, UnreadableFoldersAreSkipped) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    testing::TempPrefix p;
    p.File("x/closed/secret.txt");
    p.File("x/open/file.txt");
    fs::permissions(p.Dir() / "drive_c/x/closed", fs::perms::none);
    int files = 0;
    EXPECT_TRUE(WalkFolder(p.Dir() / "drive_c/x", [&](const WalkEntry& e) {
        if (!e.isDirectory) ++files;
        return WalkAction::Continue;
    }));
    EXPECT_EQ(files, 1);
    fs::permissions(p.Dir() / "drive_c/x/closed", fs::perms::owner_all);
}

// A lean walk meets the same entries; only folders and links carry their status.
TEST(FolderWalk, LeanWalkSkipsTheStatusOfPlainFiles) {
    testing::TempPrefix p;
    p.File("x/a.txt", "abc");
    p.File("x/sub/b.lnk", "abcd");
    fs::create_symlink(p.Dir() / "drive_c/x/a.txt", p.Dir() / "drive_c/x/link.txt");
    auto walk = [&](WalkDetail detail) {
        std::vector<std::string> seen;
        EXPECT_TRUE(WalkFolder(
            p.Dir() / "drive_c/x",
            [&](const WalkEntry& e) {
                std::string kind = e.isDirectory ? "d" : e.statted ? "s" : "f";
                if (e.statted && !e.isDirectory) kind += std::to_string(e.st.st_size);
                seen.push_back(kind + " " + fs::path(e.path).filename().string());
                return WalkAction::Continue;
            },
            detail));
        return seen;
    };
    EXPECT_EQ(walk(WalkDetail::Lean),
              (std::vector<std::string>{"f a.txt", "s3 link.txt", "d sub", "f b.lnk"}));
    EXPECT_EQ(walk(WalkDetail::Full),
              (std::vector<std::string>{"s3 a.txt", "s3 link.txt", "d sub", "s4 b.lnk"}));
}

}  // namespace
}  // namespace hivewise
