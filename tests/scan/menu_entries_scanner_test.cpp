#include "scan/scanners/menu_entries_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "menu_home.h"
#include "scan/menu_entries/desktop_entry.h"
#include "scan/scanners/registry_scanner.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using testing::kFakeAppExe;
using testing::kStartMenuFolder;

using MenuEntriesScannerTest = testing::MenuEntriesTest;

TEST_F(MenuEntriesScannerTest, EverythingOfADeletedPrefixAndNothingOfTheLivingOne) {
    auto machine = LoadB();
    fs::remove_all(a.Dir());
    auto run = Scan(*machine);
    EXPECT_EQ(Files(run),
              (std::set<std::string>{
                  ".local/share/applications/wine/Programs/FakeApp/FakeApp.desktop",
                  ".local/share/applications/wine-extension-fka.desktop",
                  "Desktop/FakeApp.desktop",
                  "Desktop/SoloApp.desktop",
                  ".config/menus/applications-merged/wine-Programs-FakeApp-FakeApp.menu",
                  ".local/share/icons/hicolor/16x16/apps/C508_SoloApp.0.png",
                  ".local/share/mime/packages/x-wine-extension-fka.xml",
                  "Desktop/SoloApp.lnk",
              }));
    // A's entries are no records of B's registry; the shared folders and icon stay, and
    // A's desktop shortcut to FakeApp stays, since B has FakeApp where it pointed.
    const Problem& entry = run.found.front();
    EXPECT_EQ(entry.ItemText(), "FakeApp");
    EXPECT_EQ(entry.Location(), entry.ValueData());
    EXPECT_TRUE(entry.ValueName().empty());
    EXPECT_EQ(entry.Description(),
              "The menu entry starts a program of a Wine prefix that no longer exists (%s)");
    const Problem& link = run.found.back();
    EXPECT_EQ(link.Description(),
              "The desktop shortcut refers to a file that exists in no Wine prefix "
              "(C:\\Program Files\\SoloApp\\SoloApp.exe)");
}

TEST_F(MenuEntriesScannerTest, DeletedShortcutTakesItsEntryMenuAndRecordsAlong) {
    auto machine = LoadB();
    fs::remove(b.Dir() / "drive_c" / kStartMenuFolder / "FakeApp B.lnk");
    auto run = Scan(*machine);
    ASSERT_EQ(Files(run),
              (std::set<std::string>{
                  ".local/share/applications/wine/Programs/FakeApp/FakeApp B.desktop",
                  ".config/menus/applications-merged/wine-Programs-FakeApp-FakeApp B.menu",
              }));
    for (const Problem& p : run.found) {
        EXPECT_EQ(p.Location(), "HKEY_CURRENT_USER\\Software\\Wine\\MenuFiles");
        EXPECT_EQ(p.ValueName(),
                  "\\\\?\\Z:" + testing::Replaced(std::string(p.ValueData()), "/", "\\"));
    }
    EXPECT_EQ(run.found[0].ItemText(), "FakeApp B");
    EXPECT_EQ(run.found[0].Description(),
              "The menu entry starts a shortcut or program that no longer exists (%s)");
    EXPECT_EQ(run.found[1].Description(),
              "The menu file lists no menu entry that still exists (%s)");
}

TEST_F(MenuEntriesScannerTest, UnregisteredProgIdTakesItsFileTypeAndRecord) {
    auto machine = LoadB(/*unregistered=*/true);
    auto run = Scan(*machine);
    ASSERT_EQ(Files(run), (std::set<std::string>{
                              ".local/share/applications/wine-extension-fkb.desktop",
                              ".local/share/mime/packages/x-wine-extension-fkb.xml",
                          }));
    EXPECT_EQ(run.found[0].Location(),
              "HKEY_CURRENT_USER\\Software\\Wine\\FileOpenAssociations\\.fkb");
    EXPECT_EQ(run.found[0].Description(),
              "The file type entry opens a ProgID that is no longer registered (%s)");
    // The file type's icon is FakeApp's, which B's menu entries still use.
}

TEST_F(MenuEntriesScannerTest, SharedIconGoesWithTheLastEntryThatUsesIt) {
    // B's file type entry uses FakeApp's icon too: it is kept while the ProgID is there.
    auto machine = LoadB();
    fs::remove_all(a.Dir());
    fs::remove(b.Dir() / "drive_c" / kFakeAppExe);
    fs::remove(b.Dir() / "drive_c" / kStartMenuFolder / "FakeApp B.lnk");
    EXPECT_FALSE(
        Files(Scan(*machine)).count(".local/share/icons/hicolor/16x16/apps/6586_FakeApp.0.png"));

    machine = LoadB(/*unregistered=*/true);
    fs::remove(b.Dir() / "drive_c" / kFakeAppExe);
    fs::remove(b.Dir() / "drive_c" / kStartMenuFolder / "FakeApp B.lnk");
    std::set<std::string> files = Files(Scan(*machine));
    EXPECT_TRUE(files.count(".local/share/icons/hicolor/16x16/apps/6586_FakeApp.0.png"));
    for (const char* directory : {"wine-wine", "wine-Programs", "wine-Programs-FakeApp"}) {
        EXPECT_TRUE(files.count(".local/share/desktop-directories/" + std::string(directory) +
                                ".directory"))
            << directory;
    }
    // FakeApp's shortcuts on the shared desktop now point nowhere.
    EXPECT_TRUE(files.count("Desktop/FakeApp.lnk"));
    EXPECT_TRUE(files.count("Desktop/FakeApp B.lnk"));

    // A shortcut to a drive that no prefix has now is not judged.
    std::string bytes = testing::MenuHome::ReadCaptured("Desktop/SoloApp.lnk");
    for (size_t at = 0; (at = bytes.find("C:\\", at)) != std::string::npos; ++at)
        bytes[at] = 'Q';
    home.home.Write("Desktop/Disc.lnk", bytes);
    files = Files(Scan(*machine));
    EXPECT_FALSE(files.count("Desktop/Disc.lnk"));
    fs::create_directory_symlink("../drive_c", b.Dir() / "dosdevices/q:");
    files = Files(Scan(*machine));
    EXPECT_TRUE(files.count("Desktop/Disc.lnk"));
}

TEST_F(MenuEntriesScannerTest, WhatWineDidNotMakeIsNeverAFinding) {
    auto machine = LoadB();
    fs::remove_all(a.Dir());
    fs::path gone = a.Dir();
    // Entries of other programs, one under Wine's own folder, naming the gone prefix and
    // the shared icon; a link in Wine's folder leading out of it.
    home.home.Write(
        ".local/share/applications/editor.desktop",
        "[Desktop Entry]\nName=Editor\nExec=editor " + gone.string() + "/x\nIcon=C508_SoloApp.0\n");
    home.home.Write(".local/share/applications/wine/Programs/notes.desktop",
                    "[Desktop Entry]\nName=Notes\nExec=/usr/bin/notes\n");
    home.home.Write("Desktop/script.desktop",
                    "[Desktop Entry]\nExec=sh -c 'WINEPREFIX=" + gone.string() + " wine x.exe'\n");
    testing::TempFolder outside;
    outside.Write("victim.desktop",
                  "[Desktop Entry]\nExec=env WINEPREFIX=" + gone.string() + " wine C:\\\\x.exe\n");
    fs::create_directory_symlink(outside.Dir(), home.Data() / "applications/wine/Linked");
    fs::create_symlink(outside.Dir() / "victim.desktop", home.Desktop() / "victim.desktop");

    std::set<std::string> files = Files(Scan(*machine));
    for (const char* kept :
         {".local/share/applications/editor.desktop",
          ".local/share/applications/wine/Programs/notes.desktop", "Desktop/script.desktop",
          "Desktop/victim.desktop", ".local/share/icons/hicolor/16x16/apps/C508_SoloApp.0.png"}) {
        EXPECT_EQ(files.count(kept), 0u) << kept;
    }
    EXPECT_EQ(std::count_if(files.begin(), files.end(),
                            [](const std::string& f) { return f.find("Linked") != f.npos; }),
              0);
    EXPECT_TRUE(files.count("Desktop/SoloApp.desktop"));
}

TEST_F(MenuEntriesScannerTest, CompleteRegistryScanLeavesWinesMenuRecordsToTheSection) {
    auto machine = LoadB();
    fs::remove(b.Dir() / "drive_c" / kStartMenuFolder / "FakeApp B.lnk");
    testing::ScanRun run = testing::RunScanner(*machine, ScanUserRegistry);
    for (const Problem& p : run.found)
        EXPECT_FALSE(IsMenuBuilderRecordKey(p.Location())) << p.Location();
    EXPECT_TRUE(IsMenuBuilderRecordKey("HKEY_CURRENT_USER\\Software\\Wine\\MenuFiles"));
    EXPECT_TRUE(IsMenuBuilderRecordKey("HKCU\\software\\wine\\FileOpenAssociations\\.fkb"));
    EXPECT_TRUE(
        IsMenuBuilderRecordKey("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Wine\\MenuFiles"));
    EXPECT_FALSE(IsMenuBuilderRecordKey("HKEY_CURRENT_USER\\Software\\Wine\\MenuFilesX"));
    EXPECT_FALSE(IsMenuBuilderRecordKey("HKEY_LOCAL_MACHINE\\Software\\Wine\\MenuFiles"));
    EXPECT_FALSE(IsMenuBuilderRecordKey("HKCU\\Software\\Vendor\\Software\\Wine\\MenuFiles"));
}

TEST(DesktopEntry, ReadsWhatTheMenuBuilderWrites) {
    std::string text = testing::MenuHome::ReadCaptured(
        ".local/share/applications/wine/Programs/FakeApp/FakeApp B.desktop");
    DesktopEntry entry = ParseDesktopEntry(text, "/home/u");
    EXPECT_TRUE(entry.wineMade);
    EXPECT_EQ(entry.name, "FakeApp B");
    EXPECT_EQ(entry.prefix, "/tmp/menucap/pfxB");
    EXPECT_EQ(entry.windowsPath,
              "C:\\users\\root\\AppData\\Roaming\\Microsoft\\Windows\\Start "
              "Menu\\Programs\\FakeApp\\FakeApp B.lnk");

    entry = ParseDesktopEntry(
        testing::MenuHome::ReadCaptured(".local/share/applications/wine-extension-fka.desktop"),
        "/home/u");
    EXPECT_EQ(entry.progId, "FakeApp.fkafile");
    EXPECT_TRUE(entry.windowsPath.empty());

    entry = ParseDesktopEntry(testing::MenuHome::ReadCaptured("Desktop/SoloApp.desktop"), "/h");
    EXPECT_EQ(entry.windowsPath, "C:\\Program Files\\SoloApp\\SoloApp.exe");
    EXPECT_EQ(entry.icon, "C508_SoloApp.0");

    // Without WINEPREFIX the default prefix; another group's keys are not the entry's.
    entry = ParseDesktopEntry(
        "[Desktop Action x]\nName=Other\n[Desktop Entry]\nName=N\nExec=wine \"C:\\\\\\\\a "
        "b.exe\"\n",
        "/home/u");
    EXPECT_EQ(entry.name, "N");
    EXPECT_EQ(entry.prefix, "/home/u/.wine");
    EXPECT_EQ(entry.windowsPath, "C:\\a b.exe");
    // A relative prefix is no prefix.
    EXPECT_FALSE(
        ParseDesktopEntry("[Desktop Entry]\nExec=env WINEPREFIX=p wine x\n", "/h").wineMade);
    EXPECT_FALSE(ParseDesktopEntry("[Desktop Entry]\nExec=winecfg-helper x\n", "/h").wineMade);
}

TEST(DesktopEntry, MenuFileNamesItsEntriesAndFolders) {
    MenuFileRefs refs = ParseMenuFile(testing::MenuHome::ReadCaptured(
        ".config/menus/applications-merged/wine-Programs-FakeApp-FakeApp B.menu"));
    EXPECT_EQ(refs.filenames, std::vector<std::string>{"wine-Programs-FakeApp-FakeApp B.desktop"});
    EXPECT_EQ(refs.directories,
              (std::vector<std::string>{"wine-wine.directory", "wine-Programs.directory",
                                        "wine-Programs-FakeApp.directory"}));
}

TEST(DesktopEntry, MenuFileNamesAreUnescaped) {
    MenuFileRefs refs = ParseMenuFile(
        "<Menu><Directory>wine-A&amp;B.directory</Directory><Include><Filename>wine-A&amp;B-"
        "&lt;x&gt;.desktop</Filename></Include><Filename>cut");
    EXPECT_EQ(refs.directories, std::vector<std::string>{"wine-A&B.directory"});
    EXPECT_EQ(refs.filenames, std::vector<std::string>{"wine-A&B-<x>.desktop"});
}

TEST(DesktopEntry, SmallFilesOnlyAndNeverThroughALink) {
    testing::TempFolder folder;
    folder.Write("big", std::string(kMenuFileLimit + 1, 'x'));
    folder.Write("ok", "text");
    fs::create_symlink(folder.Dir() / "ok", folder.Dir() / "link");
    std::string bytes;
    EXPECT_TRUE(ReadSmallFile(folder.Dir() / "ok", &bytes));
    EXPECT_EQ(bytes, "text");
    EXPECT_FALSE(ReadSmallFile(folder.Dir() / "big", &bytes));
    EXPECT_FALSE(ReadSmallFile(folder.Dir() / "link", &bytes));
    EXPECT_FALSE(ReadSmallFile(folder.Dir(), &bytes));
}

}  // namespace
}  // namespace hivewise
