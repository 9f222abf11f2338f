#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/folder_walk.h"
#include "platform/files/short_names.h"
#include "platform/files_fixture.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;
using PathResolverTest = testing::FilesTest;

TEST_F(PathResolverTest, ComponentsMatchWithoutCaseAndDotsApplyLexically) {
    PathResolver& paths = machine->Paths();
    auto host = paths.ToHost("c:\\WINDOWS\\System32\\KERNEL32.DLL");
    ASSERT_TRUE(host);
    EXPECT_TRUE(fs::equivalent(*host, C("windows/system32/kernel32.dll")));
    auto dotted = paths.ToHost("C:/windows/./nothing/../system32/kernel32.dll ");
    ASSERT_TRUE(dotted);
    EXPECT_TRUE(fs::equivalent(*dotted, *host));
    // ".." never climbs above the drive's root.
    EXPECT_TRUE(paths.ToHost("C:\\..\\..\\windows"));
}

TEST_F(PathResolverTest, RelativePathsStartInTheProgramFolder) {
    PathResolver& paths = machine->Paths();
    auto relative = paths.ToHost("HIVEWISE.EXE");
    ASSERT_TRUE(relative);
    EXPECT_TRUE(fs::equivalent(*relative, C("Program Files/Hivewise/hivewise.exe")));
    auto rooted = paths.ToHost("\\windows\\system32");
    ASSERT_TRUE(rooted);
    EXPECT_TRUE(fs::equivalent(*rooted, C("windows/system32")));
    EXPECT_EQ(paths.FullPath("..\\x.txt"), "C:\\Program Files\\x.txt");
}

TEST_F(PathResolverTest, WhatHasNoHostPath) {
    PathResolver& paths = machine->Paths();
    EXPECT_FALSE(paths.ToHost("\\\\server\\share\\file.txt"));
    EXPECT_FALSE(paths.ToHost("Q:\\file.txt"));  // no such drive
    EXPECT_FALSE(paths.ToHost("C:\\windows\\*.dll"));
    EXPECT_FALSE(paths.ToHost("C:\\windows\\missing.dll"));
    EXPECT_FALSE(paths.ToHost(""));
    // A file is no folder to look into.
    EXPECT_FALSE(paths.ToHost("C:\\windows\\system32\\kernel32.dll\\x", true));
}

TEST_F(PathResolverTest, NewEntriesNeedAnExistingParent) {
    PathResolver& paths = machine->Paths();
    auto fresh = paths.ToHost("C:\\WINDOWS\\New File.txt", true);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->filename(), "New File.txt");
    EXPECT_TRUE(fs::equivalent(fresh->parent_path(), C("windows")));
    EXPECT_FALSE(paths.ToHost("C:\\nofolder\\x.txt", true));
}

TEST_F(PathResolverTest, ShortNamesRoundTrip) {
    prefix.File("Program Files (x86)/x.txt");
    PathResolver& paths = machine->Paths();
    EXPECT_EQ(paths.ShortPath("c:\\program files\\Hivewise\\hivewise.exe"),
              "C:\\PROGRA~1\\Hivewise\\hivewise.exe");
    EXPECT_EQ(paths.ShortPath("C:\\Program Files (x86)\\x.txt"), "C:\\PROGRA~2\\x.txt");
    auto viaShort = paths.ToHost("C:\\PROGRA~1\\hivewise\\HIVEWISE.EXE");
    ASSERT_TRUE(viaShort);
    EXPECT_TRUE(fs::equivalent(*viaShort, C("Program Files/Hivewise/hivewise.exe")));
    EXPECT_EQ(paths.LongPath("c:\\progra~2\\X.TXT"), "C:\\Program Files (x86)\\x.txt");
    EXPECT_FALSE(paths.ShortPath("C:\\Program Files\\missing.txt"));
}

// Numbers grow past one digit and eat into the base; names taken by entries that are
// their own short names, or by an earlier form, are passed over.
TEST_F(PathResolverTest, GeneratedShortNamesSkipEveryTakenName) {
    std::vector<std::string> names{"RKBACK~2.REG", "RKBACK~1"};
    for (int i = 1; i <= 12; ++i)
        names.push_back("rkBackUp" + std::to_string(i) + ".reg");
    names.push_back("rkBackAll.reg");
    names.push_back("Program Files");
    std::vector<std::string> shorts = MakeShortNames(names);
    ASSERT_EQ(shorts.size(), names.size());
    EXPECT_EQ(shorts[0], "RKBACK~2.REG");
    EXPECT_EQ(shorts[1], "RKBACK~1");
    EXPECT_EQ(shorts[2], "RKBACK~1.REG");
    EXPECT_EQ(shorts[3], "RKBACK~3.REG");  // ~2 is an entry's own name
    EXPECT_EQ(shorts[9], "RKBACK~9.REG");
    EXPECT_EQ(shorts[10], "RKBAC~10.REG");
    EXPECT_EQ(shorts[13], "RKBAC~13.REG");
    EXPECT_EQ(shorts[14], "RKBAC~14.REG");  // another base, the same generated form
    EXPECT_EQ(shorts[15], "PROGRA~1");

    // A large folder of one form: every name its own, in order.
    std::vector<std::string> many;
    for (int i = 0; i < 20000; ++i)
        many.push_back("rkBackUp" + std::to_string(i) + ".reg");
    std::vector<std::string> manyShorts = MakeShortNames(many);
    EXPECT_EQ(manyShorts[0], "RKBACK~1.REG");
    EXPECT_EQ(manyShorts[98], "RKBAC~99.REG");
    EXPECT_EQ(manyShorts[99], "RKBA~100.REG");
    EXPECT_EQ(manyShorts[999], "RKB~1000.REG");
    EXPECT_EQ(manyShorts[19999], "RK~20000.REG");
    std::sort(manyShorts.begin(), manyShorts.end());
    EXPECT_EQ(std::adjacent_find(manyShorts.begin(), manyShorts.end()), manyShorts.end());
}

// The forms below are what Wine 8's GetShortPathNameW answered for the same names.
TEST_F(PathResolverTest, WinesHashedShortNamesReachTheirEntries) {
    EXPECT_EQ(WineShortName(u"Program Files"), "PROG~FBU");
    EXPECT_EQ(WineShortName(u"Program Files (x86)"), "PROG~5P2");
    EXPECT_EQ(WineShortName(u"Some App.v2"), "SOME~S5T.V2");
    EXPECT_EQ(WineShortName(u"Long File Name.html"), "LONG~1ZR.HTM");
    EXPECT_EQ(WineShortName(u"ab cd"), "AB_C~HKE");
    EXPECT_EQ(WineShortName(u"x.tar.gz"), "X_TA~OZ3.GZ");
    EXPECT_EQ(WineShortName(u"setup.exe"), "");  // its own short name

    prefix.File("Program Files/HwTestNsis/hwnsis.exe");
    prefix.File("Program Files/Some App.v2/Long File Name.html");
    PathResolver& paths = machine->Paths();
    auto nsis = paths.ToHost("C:\\PROG~FBU\\HWTE~F0Z\\hwnsis.exe");
    ASSERT_TRUE(nsis);
    EXPECT_TRUE(fs::equivalent(*nsis, C("Program Files/HwTestNsis/hwnsis.exe")));
    // Either form of a component, in any case, next to the other.
    auto mixed = paths.ToHost("c:\\progra~1\\some~s5t.v2\\LONG~1ZR.HTM");
    ASSERT_TRUE(mixed);
    EXPECT_TRUE(fs::equivalent(*mixed, C("Program Files/Some App.v2/Long File Name.html")));
    EXPECT_FALSE(paths.ToHost("C:\\PROG~FBU\\HWTE~F0Y\\hwnsis.exe"));
}

TEST_F(PathResolverTest, HostNamesOutsideTheCodePageAreReachedByShortName) {
    prefix.File("windows/\xD0\x9F\xD1\x80\xD0\xB8.txt");  // Cyrillic, UTF-8 on the host
    auto list = machine->Paths().List(C("windows"));
    ASSERT_TRUE(list);
    const FolderEntry* entry = nullptr;
    for (const auto& e : *list) {
        if (e.hostName == "\xD0\x9F\xD1\x80\xD0\xB8.txt") entry = &e;
    }
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "???.txt");
    EXPECT_EQ(entry->shortName, "___~1.TXT");
    EXPECT_TRUE(machine->Paths().ToHost("C:\\windows\\" + entry->shortName));
}

TEST_F(PathResolverTest, CacheFollowsInvalidation) {
    PathResolver& paths = machine->Paths();
    EXPECT_FALSE(paths.ToHost("C:\\WINDOWS\\LATE.TXT"));  // the listing is cached now
    std::ofstream(C("windows/Late.txt")) << "x";
    paths.Invalidate(C("windows"));
    EXPECT_TRUE(paths.ToHost("C:\\WINDOWS\\LATE.TXT"));
    fs::remove(C("windows/Late.txt"));
    paths.InvalidateAll();
    EXPECT_FALSE(paths.ToHost("C:\\WINDOWS\\LATE.TXT"));
}

// Folders left alone for a moment: their listings are then kept and trusted in place of
// a stat of each name, and paths not there as written keep how they resolved.
void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

TEST_F(PathResolverTest, TrustedListingsFollowChangesMadeOutsideTheLayer) {
    prefix.File("Data/Sub/a.txt");
    Settle();
    PathResolver& paths = machine->Paths();
    EXPECT_FALSE(paths.ToHost("C:\\Data\\Sub\\b.txt"));  // reads and keeps the listing
    EXPECT_TRUE(paths.ToHost("C:\\Data\\Sub\\a.txt"));
    std::ofstream(C("Data/Sub/b.txt")) << "x";
    EXPECT_TRUE(paths.ToHost("C:\\Data\\Sub\\b.txt"));
    EXPECT_TRUE(paths.ToHost("C:\\DATA\\SUB\\B.TXT"));
    fs::remove(C("Data/Sub/a.txt"));
    EXPECT_FALSE(paths.ToHost("C:\\Data\\Sub\\a.txt"));
    EXPECT_FALSE(paths.ToHost("C:\\data\\sub\\A.TXT"));
}

TEST_F(PathResolverTest, KeptFolderPathsFollowChangesOnTheirWay) {
    prefix.File("Data/Sub/a.txt");
    Settle();
    PathResolver& paths = machine->Paths();
    EXPECT_TRUE(paths.ToHost("C:\\data\\sub\\a.txt"));
    EXPECT_FALSE(paths.ToHost("C:\\data\\sub\\b.txt"));
    // A folder of the same name in another case takes the old one's place.
    fs::rename(C("Data/Sub"), C("Data/Old"));
    prefix.File("Data/SUB/b.txt");
    EXPECT_FALSE(paths.ToHost("C:\\data\\sub\\a.txt"));
    auto b = paths.ToHost("C:\\data\\sub\\b.txt");
    ASSERT_TRUE(b);
    EXPECT_TRUE(fs::equivalent(*b, C("Data/SUB/b.txt")));

    // Kept through the listing of C:\ alone (Sub is there as written): the folder goes.
    prefix.File("Data/Sub/a.txt");
    Settle();
    EXPECT_TRUE(paths.ToHost("C:\\DATA\\Sub\\a.txt"));
    fs::rename(C("Data/Sub"), C("Data/Gone"));
    EXPECT_FALSE(paths.ToHost("C:\\DATA\\Sub\\a.txt"));

    // A folder that is not there is kept as such until its parent changes.
    EXPECT_FALSE(paths.ToHost("C:\\nodir\\x.txt"));
    EXPECT_FALSE(paths.ToHost("C:\\nodir\\x.txt"));
    prefix.File("NoDir/x.txt");
    EXPECT_TRUE(paths.ToHost("C:\\nodir\\x.txt"));
}

TEST_F(PathResolverTest, KeptFolderPathsFollowTheLayersOwnChanges) {
    prefix.File("Data/a.txt");
    Settle();
    PathResolver& paths = machine->Paths();
    EXPECT_FALSE(paths.ToHost("C:\\data\\new\\a.txt"));
    EXPECT_FALSE(paths.ToHost("C:\\data\\new\\a.txt"));
    ASSERT_TRUE(files->CreateDirectory("C:\\Data\\NEW"));
    ASSERT_TRUE(files->CopyFile("C:\\Data\\a.txt", "C:\\DATA\\new\\A.txt"));
    auto copied = paths.ToHost("C:\\data\\new\\a.txt");
    ASSERT_TRUE(copied);
    EXPECT_TRUE(fs::equivalent(*copied, C("Data/NEW/A.txt")));
    ASSERT_TRUE(files->DeleteFile("C:\\data\\new\\a.txt"));
    EXPECT_FALSE(paths.ToHost("C:\\data\\new\\a.txt"));
    EXPECT_TRUE(files->IsDirectory("c:\\data\\new"));
}

// A scan judges the machine as it was when it began: within a snapshot a folder seen
// unchanged is not looked at again, but the layer's own changes still count, and once
// the snapshot ends the folder is as it is on disk.
TEST_F(PathResolverTest, SnapshotsKeepListingsUntilTheyEnd) {
    prefix.File("Data/Sub/a.txt");
    prefix.File("Data/Other/x.txt");
    Settle();
    PathResolver& paths = machine->Paths();
    {
        PathResolver::Snapshot snapshot(paths);
        EXPECT_TRUE(paths.Snapshotting());
        EXPECT_TRUE(paths.ToHost("C:\\data\\sub\\A.TXT"));
        EXPECT_FALSE(paths.ToHost("C:\\Data\\Sub\\b.txt"));
        EXPECT_FALSE(files->IsDirectory("C:\\Data\\Sub\\b.txt"));
        EXPECT_TRUE(files->IsDirectory("C:\\DATA\\sub"));
        EXPECT_FALSE(files->IsDirectory("C:\\Data\\Sub\\a.txt"));
        std::ofstream(C("Data/Sub/b.txt")) << "x";
        EXPECT_FALSE(paths.ToHost("C:\\Data\\Sub\\b.txt"));  // as the folder was
        ASSERT_TRUE(files->CopyFile("C:\\Data\\Other\\x.txt", "C:\\Data\\Sub\\c.txt"));
        EXPECT_TRUE(paths.ToHost("C:\\data\\sub\\C.TXT"));
        { PathResolver::Snapshot inner(paths); }
        EXPECT_TRUE(paths.Snapshotting());  // until the outer one ends
    }
    EXPECT_FALSE(paths.Snapshotting());
    fs::remove(C("Data/Sub/a.txt"));
    EXPECT_FALSE(paths.ToHost("C:\\data\\sub\\a.txt"));
    EXPECT_TRUE(paths.ToHost("C:\\data\\sub\\b.txt"));
}

// Within a snapshot the listing above a folder also answers for the folder: one it lacks is
// missing without a look at the disk, as it was when the snapshot began, while one there in
// another letter case is found, and so is one the layer made itself.
TEST_F(PathResolverTest, SnapshotsAnswerMissingFoldersFromTheListingAbove) {
    prefix.File("Data/App/app.exe");
    Settle();
    PathResolver& paths = machine->Paths();
    PathResolver::Snapshot snapshot(paths);
    EXPECT_TRUE(paths.ToHost("C:\\Data\\App\\app.exe"));
    EXPECT_FALSE(paths.ToHost("C:\\Data\\Gone\\app.exe"));
    EXPECT_FALSE(paths.ToHost("C:\\Data\\Gone\\new.txt", true));
    EXPECT_TRUE(paths.ToHost("C:\\DATA\\APP\\APP.EXE"));
    EXPECT_TRUE(paths.ToHost("C:\\Data\\APP\\app.exe"));
    fs::create_directories(C("Data/Late"));
    std::ofstream(C("Data/Late/x.txt")) << "x";
    EXPECT_FALSE(paths.ToHost("C:\\Data\\Late\\x.txt"));
    ASSERT_TRUE(files->CreateDirectory("C:\\Data\\Made"));
    ASSERT_TRUE(files->CopyFile("C:\\Data\\App\\app.exe", "C:\\Data\\Made\\copy.exe"));
    EXPECT_TRUE(paths.ToHost("C:\\data\\made\\COPY.EXE"));
    EXPECT_TRUE(paths.ToHost("C:\\Data\\Made\\copy.exe"));
}

TEST_F(PathResolverTest, HostPathsMapBackThroughTheDeepestDrive) {
    PathResolver& paths = machine->Paths();
    EXPECT_EQ(paths.ToWindows(C("windows/system32/kernel32.dll")),
              "C:\\windows\\system32\\kernel32.dll");
    EXPECT_EQ(paths.ToWindows(prefix.Dir() / "drive_c"), "C:\\");
    EXPECT_EQ(paths.ToWindows(prefix.Dir() / "dosdevices" / "d:" / "setup.exe"), "D:\\setup.exe");
    // Through a linked folder: the drive it was reached by.
    fs::create_directory_symlink(prefix.Dir() / "cdrom", C("linked"));
    EXPECT_EQ(paths.ToWindows(C("linked/setup.exe")), "C:\\linked\\setup.exe");
    // Outside every drive but Z: (the host's root).
    auto outside = paths.ToWindows(prefix.Dir() / "system.reg");
    ASSERT_TRUE(outside);
    EXPECT_EQ(outside->substr(0, 3), "Z:\\");
    EXPECT_EQ(outside->substr(outside->size() - 11), "\\system.reg");
}

// The drive_c tree of a prefix made by Wine itself, rebuilt as empty files, with its
// profile links pointing back at the prefix as they do in a real home folder.
TEST(PathResolverCorpus, EveryEntryOfARealTreeResolvesInUpperCaseAndByShortName) {
    fs::path list = testing::TestDataDir() / "wine-prefix" / "drive_c.list";
    if (testing::TestDataDir().empty() || !fs::exists(list)) GTEST_SKIP() << "no test data";
    testing::TempPrefix p;
    p.SystemReg("");
    std::ifstream in(list);
    std::vector<std::string> files;
    std::string type, size, relative;
    while (in >> type >> size && std::getline(in >> std::ws, relative)) {
        fs::path host = p.Dir() / "drive_c" / relative;
        fs::create_directories(host.parent_path());
        if (type == "d") fs::create_directories(host);
        if (type == "f") std::ofstream(host) << "";
        if (type == "l") fs::create_directory_symlink(p.Dir(), host);
        if (type == "f") files.push_back(relative);
    }
    auto m = p.Load();
    ASSERT_TRUE(m) << p.LastError();
    ASSERT_GT(files.size(), 500u);
    PathResolver& paths = m->Paths();
    for (const auto& relative : files) {
        std::string windows = "C:\\" + relative;
        std::replace(windows.begin(), windows.end(), '/', '\\');
        auto host = paths.ToHost(AnsiUpper(windows));
        ASSERT_TRUE(host) << windows;
        EXPECT_TRUE(fs::equivalent(*host, p.Dir() / "drive_c" / relative)) << windows;
        auto shortPath = paths.ShortPath(windows);
        ASSERT_TRUE(shortPath) << windows;
        auto again = paths.ToHost(*shortPath);
        ASSERT_TRUE(again) << *shortPath;
        EXPECT_TRUE(fs::equivalent(*again, *host)) << *shortPath;
        EXPECT_EQ(paths.ToWindows(*host), windows);
    }
    size_t walked = 0;
    EXPECT_TRUE(WalkFolder(p.Dir() / "drive_c", [&](const WalkEntry&) {
        ++walked;
        return WalkAction::Continue;
    }));
    EXPECT_GE(walked, files.size());
}

}  // namespace
}  // namespace hivewise
