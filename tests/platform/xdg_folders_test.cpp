#include "platform/files/xdg_folders.h"

#include <gtest/gtest.h>

#include "platform/temp_prefix.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

TEST(XdgFolders, FromTheEnvironmentAndUserDirs) {
    testing::TempFolder home;
    auto folders = FindXdgFolders({{"HOME", home.Dir().string()}});
    ASSERT_TRUE(folders);
    EXPECT_EQ(folders->dataHome, home.Dir() / ".local/share");
    EXPECT_EQ(folders->configHome, home.Dir() / ".config");
    // No desktop folder: Wine's Desktop is the home folder itself.
    EXPECT_EQ(folders->desktop, home.Dir());
    fs::create_directory(home.Dir() / "Desktop");
    EXPECT_EQ(FindXdgFolders({{"HOME", home.Dir().string()}})->desktop, home.Dir() / "Desktop");

    home.Write("cfg/user-dirs.dirs",
               "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
               "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    folders = FindXdgFolders({{"HOME", home.Dir().string()},
                              {"XDG_CONFIG_HOME", (home.Dir() / "cfg").string()},
                              {"XDG_DATA_HOME", "relative/is/ignored"}});
    EXPECT_EQ(folders->configHome, home.Dir() / "cfg");
    EXPECT_EQ(folders->dataHome, home.Dir() / ".local/share");
    EXPECT_EQ(folders->desktop, home.Dir() / "Schreibtisch");

    home.Write("cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/srv/desk/\"\n");
    EXPECT_EQ(FindXdgFolders({{"HOME", home.Dir().string()},
                              {"XDG_CONFIG_HOME", (home.Dir() / "cfg").string()}})
                  ->desktop,
              "/srv/desk");
    EXPECT_FALSE(FindXdgFolders({{"HOME", "relative"}}));
    EXPECT_FALSE(FindXdgFolders({}));
}

TEST(XdgFolders, OnlyTheMenuBuildersOwnFiles) {
    XdgFolders f{"/h", "/h/.local/share", "/h/.config", "/h/Desktop"};
    for (const char* yes : {
             "/h/.local/share/applications/wine/Programs/A/A.desktop",
             "/h/.local/share/applications/wine-extension-txt.desktop",
             "/h/.local/share/desktop-directories/wine-Programs.directory",
             "/h/.local/share/icons/hicolor/48x48/apps/1234_a.0.png",
             "/h/.local/share/mime/packages/x-wine-extension-txt.xml",
             "/h/.config/menus/applications-merged/wine-Programs-A.menu",
             "/h/Desktop/A.desktop",
             "/h/Desktop/A.lnk",
         }) {
        EXPECT_TRUE(IsMenuBuilderFile(f, yes)) << yes;
    }
    for (const char* no : {
             "/h/.bashrc",
             "/h/.local/share/applications/firefox.desktop",
             "/h/.local/share/applications/wine",
             "/h/.local/share/applications/wine/../../../../.bashrc",
             "/h/.local/share/desktop-directories/other.directory",
             "/h/.local/share/icons/hicolor/48x48/mimetypes/a.png",
             "/h/.local/share/mime/packages/freedesktop.xml",
             "/h/.config/menus/applications.menu",
             "/h/.config/mimeapps.list",
             "/h/Desktop/notes.txt",
             "/h/Desktop/sub/A.desktop",
             "relative/Desktop/A.desktop",
         }) {
        EXPECT_FALSE(IsMenuBuilderFile(f, no)) << no;
    }
}

TEST(XdgFolders, NothingIsReachedThroughALink) {
    testing::TempFolder home, outside;
    home.Write(".local/share/applications/wine/Programs/A.desktop", "x");
    outside.Write("A.desktop", "theirs");
    auto folders = *FindXdgFolders({{"HOME", home.Dir().string()}});
    fs::path apps = home.Dir() / ".local/share/applications/wine";
    EXPECT_TRUE(MayTouchMenuBuilderFile(folders, apps / "Programs/A.desktop"));
    EXPECT_TRUE(MayTouchMenuBuilderFile(folders, apps / "Programs/New.desktop"));
    EXPECT_FALSE(MayTouchMenuBuilderFile(folders, apps / "Missing/New.desktop"));
    EXPECT_TRUE(MayTouchMenuBuilderFile(folders, apps / "Missing/New.desktop", true));
    EXPECT_TRUE(fs::is_directory(apps / "Missing"));

    fs::create_directory_symlink(outside.Dir(), apps / "Linked");
    fs::create_symlink(outside.Dir() / "A.desktop", apps / "Programs/Link.desktop");
    EXPECT_FALSE(MayTouchMenuBuilderFile(folders, apps / "Linked/A.desktop"));
    EXPECT_FALSE(MayTouchMenuBuilderFile(folders, apps / "Linked/Deeper/A.desktop", true));
    EXPECT_FALSE(fs::exists(outside.Dir() / "Deeper"));
    EXPECT_FALSE(MayTouchMenuBuilderFile(folders, apps / "Programs/Link.desktop"));

    // The data folder itself may be a link the user made.
    testing::TempFolder elsewhere;
    elsewhere.Write("applications/wine/B.desktop", "x");
    fs::create_directories(home.Dir() / "alt");
    fs::create_directory_symlink(elsewhere.Dir(), home.Dir() / "alt/share");
    auto linked = *FindXdgFolders(
        {{"HOME", home.Dir().string()}, {"XDG_DATA_HOME", (home.Dir() / "alt/share").string()}});
    EXPECT_TRUE(
        MayTouchMenuBuilderFile(linked, home.Dir() / "alt/share/applications/wine/B.desktop"));
}

}  // namespace
}  // namespace hivewise
