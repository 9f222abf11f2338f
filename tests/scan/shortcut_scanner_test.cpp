#include "scan/scanners/shortcut_scanner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/machine/sample_machine.h"
#include "platform/machine/shell_link_writer.h"
#include "platform/machine/text.h"
#include "platform/temp_prefix.h"
#include "scan/scanners/shell_item_list.h"
#include "scan/scanners/shell_link_reader.h"
#include "scanner_harness.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

constexpr const char* kShortcutText =
    "The shortcut is not valid.  Shortcut refers to (%s) which is a file that does not exist.";

using Walk = testing::ScanRun;

Walk RunWalk(Machine& machine, const std::string& folder, bool abortOnFirst = false) {
    return testing::RunWithContext(machine,
                                   {.abortAfterFindings = abortOnFirst ? size_t{1} : size_t{0}},
                                   [&](ScanContext& context) { ScanShortcuts(context, folder); });
}

std::vector<std::string> Shortcuts(const Walk& walk) {
    std::vector<std::string> items;
    for (const Problem& p : walk.found)
        items.push_back(std::string(p.ItemText()) + " -> " + std::string(p.ValueData()));
    return items;
}

// Drive C: fixed, D: a CD-ROM; an installed tool.
class ShortcutScannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(prefix.Dir() / "cdrom");
        fs::create_directory_symlink("../cdrom", prefix.Dir() / "dosdevices" / "d:");
        prefix.File("Program Files/Tool/tool.exe", "MZ");
        prefix.SystemReg(R"(
[Software\\Microsoft\\Windows\\CurrentVersion] 1700000000
"ProgramFilesDir"="C:\\Program Files"

[Software\\Wine\\Drives] 1700000000
"d:"="cdrom"
)");
        prefix.UserReg("");
    }
    // A shortcut under drive_c to `target`.
    void Link(const fs::path& relative, const std::string& target, size_t padTo = 0) {
        ShellLinkFields fields;
        fields.targetPath = target;
        std::string bytes = BuildShellLink(fields);
        ASSERT_FALSE(bytes.empty()) << target;
        // Data after the end block is never read; it only makes the file larger.
        if (bytes.size() < padTo) bytes.resize(padTo, '\0');
        prefix.File(relative, bytes);
    }
    std::unique_ptr<Machine> Load() {
        auto machine = prefix.Load();
        EXPECT_TRUE(machine) << prefix.LastError();
        return machine;
    }

    testing::TempPrefix prefix;
};

TEST_F(ShortcutScannerTest, ReportsOnlyMissingFilesOnFixedDisks) {
    Link("Links/gone.lnk", "C:\\Old\\app.exe");
    Link("Links/present.lnk", "C:\\Program Files\\Tool\\tool.exe");
    Link("Links/cd.lnk", "D:\\setup\\setup.exe");
    Link("Links/folder.lnk", "C:\\Program Files\\Tool");
    Link("Links/recycled.lnk", "C:\\Recycled\\old.exe");
    Link("Links/big.lnk", "C:\\Old\\big.exe", 1024);
    Link("Links/small.lnk", "C:\\Old\\small.exe", 1023);
    Link("Links/Upper.LNK", "C:\\Old\\upper.exe");
    Link("Links/plain.txt", "C:\\Old\\text.exe");
    prefix.File("Links/empty.lnk");
    prefix.File("Links/junk.lnk", "not a shortcut");
    auto machine = Load();
    ASSERT_TRUE(machine);

    Walk walk = RunWalk(*machine, "C:\\");
    ASSERT_EQ(walk.found.size(), 2u);
    const Problem& p = walk.found[0];
    EXPECT_EQ(p.sectionId, 14);
    EXPECT_EQ(p.ItemText(), "C:\\Links\\gone.lnk");
    EXPECT_EQ(p.Location(), "C:\\Old\\app.exe");
    EXPECT_EQ(p.ValueName(), "");
    EXPECT_EQ(p.ValueData(), "C:\\Old\\app.exe");
    EXPECT_EQ(p.Description(), kShortcutText);
    EXPECT_EQ(p.isChecked, 1);
    EXPECT_EQ(p.sequence, 0);
    EXPECT_EQ(Shortcuts(walk)[1], "C:\\Links\\small.lnk -> C:\\Old\\small.exe");
    // The walk never moves the bar; every file shows its path and pumps once, every
    // folder pumps once.
    EXPECT_EQ(walk.steps, 0);
    size_t files = 0;
    size_t folders = 0;
    for (const auto& entry : fs::recursive_directory_iterator(prefix.Dir() / "drive_c")) {
        (entry.is_directory() ? folders : files) += 1;
    }
    EXPECT_EQ(walk.pumps, static_cast<int>(files + folders));
    EXPECT_EQ(walk.statusLines, files);
    EXPECT_EQ(machine->Handles().OpenCount(), 0u);
}

TEST_F(ShortcutScannerTest, StartsBelowAnyFolderWithOrWithoutBackslash) {
    Link("Links/Sub/gone.lnk", "C:\\Old\\app.exe");
    Link("Other/gone.lnk", "C:\\Old\\other.exe");
    auto machine = Load();
    ASSERT_TRUE(machine);
    for (const char* folder : {"C:\\Links", "C:\\Links\\\\", "c:\\links"}) {
        Walk walk = RunWalk(*machine, folder);
        ASSERT_EQ(walk.found.size(), 1u) << folder;
        EXPECT_EQ(walk.found[0].ItemText(), std::string(folder).substr(0, 8) + "\\Sub\\gone.lnk");
    }
    EXPECT_TRUE(RunWalk(*machine, "C:\\Missing").found.empty());
    EXPECT_TRUE(RunWalk(*machine, "D:\\").found.empty());
}

TEST_F(ShortcutScannerTest, NetHoodEndsTheFolderItIsMetIn) {
    // Names sort as the walk meets them: upper case first.
    Link("Mixed/A gone.lnk", "C:\\Old\\a.exe");
    prefix.File("Mixed/NetHood.txt");
    Link("Mixed/Sub/gone.lnk", "C:\\Old\\sub.exe");
    Link("Mixed/Z gone.lnk", "C:\\Old\\z.exe");
    Link("user/NetHood/Deep/gone.lnk", "C:\\Old\\deep.exe");
    Link("user/NetHood/place.lnk", "C:\\Old\\place.exe");
    auto machine = Load();
    ASSERT_TRUE(machine);
    Walk walk = RunWalk(*machine, "C:\\");
    EXPECT_EQ(Shortcuts(walk), std::vector<std::string>{"C:\\Mixed\\A gone.lnk -> C:\\Old\\a.exe"});
}

TEST_F(ShortcutScannerTest, ClearedFlagEndsTheWholeWalk) {
    Link("A/first.lnk", "C:\\Old\\1.exe");
    Link("A/second.lnk", "C:\\Old\\2.exe");
    Link("A/Sub/third.lnk", "C:\\Old\\3.exe");
    Link("B/fourth.lnk", "C:\\Old\\4.exe");
    auto machine = Load();
    ASSERT_TRUE(machine);
    EXPECT_EQ(RunWalk(*machine, "C:\\").found.size(), 4u);
    Walk walk = RunWalk(*machine, "C:\\", /*abortOnFirst=*/true);
    ASSERT_EQ(walk.found.size(), 1u);
    // The file reported still shows on the status line; nothing after it is looked at.
    EXPECT_EQ(walk.statusLine, "C:\\A\\first.lnk");
}

// Wine links profile folders to the home folder, which holds the prefix again. Prefixes
// met on the way are not entered: through their drive links the walk would leave the
// machine.
TEST_F(ShortcutScannerTest, LinkLoopsEndAndEachFolderIsWalkedOnce) {
    fs::path home = prefix.Dir() / "home";
    fs::create_directories(home / "Music");
    fs::create_directory_symlink(prefix.Dir(), home / ".wine");
    fs::create_directories(prefix.Dir() / "drive_c" / "users" / "u");
    for (const char* name : {"Desktop", "Documents", "Pictures"}) {
        fs::create_directory_symlink(home, prefix.Dir() / "drive_c" / "users" / "u" / name);
    }
    fs::create_directory_symlink("..", prefix.Dir() / "drive_c" / "users" / "back");
    {
        ShellLinkFields fields;
        fields.targetPath = "C:\\Old\\app.exe";
        std::ofstream(home / "Music" / "gone.lnk", std::ios::binary) << BuildShellLink(fields);
    }
    // Another prefix in the home folder: its shortcuts name its own drives.
    fs::create_directories(home / "other" / "dosdevices");
    std::ofstream(home / "other" / "system.reg") << "WINE REGISTRY Version 2\n";
    {
        ShellLinkFields fields;
        fields.targetPath = "C:\\Other\\other.exe";
        fs::create_directories(home / "other" / "drive_c");
        std::ofstream(home / "other" / "drive_c" / "other.lnk", std::ios::binary)
            << BuildShellLink(fields);
    }
    auto machine = Load();
    ASSERT_TRUE(machine);
    Walk walk = RunWalk(*machine, "C:\\");
    ASSERT_EQ(walk.found.size(), 1u);
    EXPECT_EQ(walk.found[0].ItemText(), "C:\\users\\u\\Desktop\\Music\\gone.lnk");
}

// Wine links the profile folders to the home folder's own; their shortcuts belong to
// the user (and to every prefix), not to this machine's drive C:. Links that stay inside
// the prefix are still walked, and a system drive outside it is never walked.
TEST_F(ShortcutScannerTest, NeverLeavesThePrefix) {
    testing::TempFolder home;
    ShellLinkFields fields;
    fields.targetPath = "C:\\Old\\app.exe";
    std::string shortcut = BuildShellLink(fields);
    home.Write("Desktop/old desktop/a.lnk", shortcut);
    home.Write("Desktop/b.lnk", shortcut);
    home.Write("Documents/c.lnk", shortcut);
    fs::path user = prefix.Dir() / "drive_c" / "users" / "u";
    fs::create_directories(user);
    fs::create_directory_symlink(home.Dir() / "Desktop", user / "Desktop");
    fs::create_directory_symlink(home.Dir(), user / "Documents");
    // A file link out, and a relative folder link that climbs out of the prefix.
    fs::create_symlink(home.Dir() / "Desktop" / "b.lnk", user / "linked.lnk");
    fs::create_directory_symlink("../../../..", user / "Up");
    // Inside the prefix, outside drive C:'s own tree: still the machine's.
    prefix.Write("saved/kept.lnk", shortcut);
    fs::create_directory_symlink("../../../saved", user / "Saved");
    fs::create_directory_symlink(home.Dir(), prefix.Dir() / "dosdevices" / "z:");
    auto machine = Load();
    ASSERT_TRUE(machine);

    Walk walk = RunWalk(*machine, "C:\\");
    EXPECT_EQ(Shortcuts(walk),
              std::vector<std::string>{"C:\\users\\u\\Saved\\kept.lnk -> C:\\Old\\app.exe"});
    EXPECT_TRUE(RunWalk(*machine, "Z:\\").found.empty());
    EXPECT_TRUE(RunWalk(*machine, "C:\\users\\u\\Desktop").found.empty());
    machine->SetEnv("SystemRoot", "Z:\\windows");
    EXPECT_TRUE(testing::RunWithContext(*machine, {}, [](ScanContext& context) {
                    ScanSystemDriveShortcuts(context);
                }).found.empty());
}

TEST_F(ShortcutScannerTest, OddFilesAreNeverOpened) {
    ASSERT_EQ(::mkfifo((prefix.Dir() / "drive_c" / "pipe.lnk").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", prefix.Dir() / "drive_c" / "zero.lnk");
    fs::create_symlink("nowhere.lnk", prefix.Dir() / "drive_c" / "dangling.lnk");
    auto machine = Load();
    ASSERT_TRUE(machine);
    EXPECT_TRUE(RunWalk(*machine, "C:\\").found.empty());
    FileSystemAccess files(*machine);
    std::string target = "x", description = "x";
    EXPECT_EQ(ResolveShortcut(files, "C:\\pipe.lnk", &target, &description), kShellFail);
    EXPECT_EQ(target, "");
    EXPECT_EQ(description, "");
}

TEST_F(ShortcutScannerTest, TargetsComeInTheirLongForm) {
    Link("a.lnk", "C:\\PROGRA~1\\Tool\\tool.exe");
    Link("b.lnk", "c:\\program files\\TOOL\\Tool.EXE");
    Link("c.lnk", "C:\\PROGRA~1\\Gone\\gone.exe");
    auto machine = Load();
    ASSERT_TRUE(machine);
    FileSystemAccess files(*machine);
    std::string target, description;
    EXPECT_EQ(ResolveShortcut(files, "C:\\a.lnk", &target, &description), kShellOk);
    EXPECT_EQ(target, "C:\\Program Files\\Tool\\tool.exe");
    ResolveShortcut(files, "C:\\b.lnk", &target, &description);
    EXPECT_EQ(target, "C:\\Program Files\\Tool\\tool.exe");
    // A missing target keeps the form the shortcut holds.
    ResolveShortcut(files, "C:\\c.lnk", &target, &description);
    EXPECT_EQ(target, "C:\\PROGRA~1\\Gone\\gone.exe");
    EXPECT_EQ(ResolveShortcut(files, "C:\\none.lnk", &target, &description), kShellFail);
    EXPECT_EQ(target, "");

    // Remembered targets: each shortcut twice, in turn, gives what it gives alone.
    ShortcutTargets known;
    for (int round = 0; round < 2; ++round) {
        for (const char* name : {"a.lnk", "b.lnk", "c.lnk", "none.lnk"}) {
            std::string alone, remembered;
            const fs::path host = prefix.Dir() / "drive_c" / name;
            const long status = ResolveShortcutFile(files, host, &alone, &description);
            EXPECT_EQ(ResolveShortcutFile(files, host, &remembered, &description, &known), status);
            EXPECT_EQ(remembered, alone) << name;
        }
        std::string remembered;
        ResolveShortcutFile(files, prefix.Dir() / "drive_c" / "b.lnk", &remembered, &description,
                            &known);
        EXPECT_EQ(remembered, "C:\\Program Files\\Tool\\tool.exe");
    }

    std::string longPath = "x";
    EXPECT_EQ(ExpandLongPath(files, "C:/PROGRA~1/tool/TOOL.EXE", &longPath), 30u);
    EXPECT_EQ(longPath, "C:\\Program Files\\Tool\\tool.exe");
    EXPECT_EQ(ExpandLongPath(files, "C:\\PROGRA~1", &longPath), 16u);
    EXPECT_EQ(longPath, "C:\\Program Files");
    for (const char* bad : {"", "C:\\Program Files\\Gone", "C:PROGRA~1", "C:\\Program Files\\T*",
                            "\\\\server\\share\\x", "Program Files"}) {
        EXPECT_EQ(ExpandLongPath(files, bad, &longPath), 0u) << bad;
        EXPECT_EQ(longPath, "") << bad;
    }
}

// The bytes of a shortcut with only a header and the given parts after it.
std::string HeaderOnlyLink(uint32_t flags, const std::string& rest) {
    std::string out;
    auto put32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put32(0x4C);
    out += std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    put32(flags);
    put32(0x20);
    out.append(24 + 8, '\0');  // times, file size, icon index
    put32(1);                  // show command
    out.append(12, '\0');      // hot key and reserved fields
    return out + rest;
}

// An environment-variables block holding `path`, and the end block.
std::string EnvironmentBlock(const std::string& path) {
    std::string block("\x14\x03\x00\x00\x01\x00\x00\xA0", 8);
    std::string ansi = path;
    ansi.resize(260, '\0');
    std::string wide;
    for (char16_t c : AnsiToUtf16(path)) {
        wide.push_back(static_cast<char>(c & 0xFF));
        wide.push_back(static_cast<char>(c >> 8));
    }
    wide.resize(520, '\0');
    return block + ansi + wide + std::string(4, '\0');
}

// Item list parts: My Computer, a volume, a file entry with an optional long name.
std::string RootItem() {
    return std::string(
        "\x14\x00\x1F\x50\xE0\x4F\xD0\x20\xEA\x3A\x69\x10\xA2\xD8\x08\x00\x2B\x30"
        "\x30\x9D",
        20);
}
std::string VolumeItem(const std::string& root) {
    std::string item("\x19\x00\x2F", 3);
    item += root;
    item.resize(0x19, '\0');
    return item;
}
std::string FileItem(const std::string& primary, const std::string& longName, bool folder) {
    std::string item("\x00\x00", 2);
    item.push_back(folder ? '\x31' : '\x32');
    item.append(11, '\0');  // unknown byte, size, time, attributes
    item += primary;
    item.push_back('\0');
    if (item.size() % 2) item.push_back('\0');
    if (!longName.empty()) {
        std::string block("\x00\x00\x09\x00\x04\x00\xEF\xBE", 8);
        block.append(38, '\0');
        for (char c : longName) {
            block.push_back(c);
            block.push_back('\0');
        }
        block.append(2, '\0');
        block.append(2, '\x14');
        block[0] = static_cast<char>(block.size());
        item += block;
    }
    item[0] = static_cast<char>(item.size());
    return item;
}

TEST(ShellItemList, NamesFileSystemTargetsOnly) {
    const std::string path = RootItem() + VolumeItem("C:\\") +
                             FileItem("PROGRA~1", "Program Files", true) +
                             FileItem("TOOL.EXE", "", false);
    EXPECT_EQ(ItemListPath(path + std::string(2, '\0')), "C:\\Program Files\\TOOL.EXE");
    EXPECT_EQ(ItemListPath(VolumeItem("D:\\") + std::string(2, '\0')), "D:\\");
    // Cut anywhere, the list lacks its end and names nothing.
    for (size_t cut = 0; cut < path.size() + 1; ++cut) {
        EXPECT_EQ(ItemListPath(path.substr(0, cut)), "") << cut;
    }
    std::string network = RootItem();
    network[4] = '\x60';  // another shell folder than My Computer
    EXPECT_EQ(ItemListPath(network + VolumeItem("C:\\") + std::string(2, '\0')), "");
    EXPECT_EQ(ItemListPath(RootItem() + FileItem("A", "", false) + std::string(2, '\0')), "");
    EXPECT_EQ(ItemListPath(RootItem() + VolumeItem("CC:\\") + std::string(2, '\0')), "");
    std::string oversized = path + std::string(2, '\0');
    oversized[21] = '\x7F';  // the volume item claims more than the list holds
    EXPECT_EQ(ItemListPath(oversized), "");
}

TEST_F(ShortcutScannerTest, TargetFromEnvironmentOrItemListWithoutLocalPath) {
    prefix.File("env.lnk", HeaderOnlyLink(0x280, EnvironmentBlock("%ProgramFiles%\\Gone\\a.exe")));
    const std::string items = RootItem() + VolumeItem("C:\\") + FileItem("OLD", "Old", true) +
                              FileItem("B.EXE", "b.exe", false) + std::string(2, '\0');
    std::string list(1, static_cast<char>(items.size()));
    list.push_back(static_cast<char>(items.size() >> 8));
    prefix.File("items.lnk", HeaderOnlyLink(0x81, list + items + std::string(4, '\0')));
    auto machine = Load();
    ASSERT_TRUE(machine);
    EXPECT_EQ(Shortcuts(RunWalk(*machine, "C:\\")),
              (std::vector<std::string>{"C:\\env.lnk -> C:\\Program Files\\Gone\\a.exe",
                                        "C:\\items.lnk -> C:\\Old\\b.exe"}));
}

fs::path LnkSamples() {
    fs::path dir = testing::TestDataDir();
    return dir.empty() || !fs::exists(dir / "lnk") ? fs::path() : dir / "lnk";
}

// Real shortcuts read as the format's reference reader prints them (its "Local path").
TEST(ShellLinkSamples, LocalPathsAsTheReferenceReaderPrintsThem) {
    fs::path samples = LnkSamples();
    if (samples.empty()) GTEST_SKIP() << "no test data";
    struct Expected {
        const char* file;
        const char* localPath;  // UTF-8; null: the file is no readable shortcut
        const char* itemListPath = "";
    };
    const Expected expected[] = {
        {"broken_link_info.lnk", "", "C:\\Program Files\\xt\\xt.exe"},
        {"console_properties_block.lnk",
         "C:\\Windows\\SysWOW64\\WindowsPowerShell\\v1.0\\powershell.exe",
         "C:\\Windows\\SysWOW64\\WindowsPowerShell\\v1.0\\powershell.exe"},
        {"darwin_block.lnk", "",
         "C:\\Windows\\Installer\\{DB8757A3-1B62-4136-8D95-D2CB9F00E36C}\\test_icon.ico"},
        {"decoding_error2.lnk", "C:\\Windows\\System32\\cmd.exe", "C:\\Windows\\System32\\cmd.exe"},
        {"decoding_error3.lnk",
         "C:\\Users\\Äèìà\\Desktop\\PixelMod\\Mod for Pixelmon\\Error Fix.bat"},
        {"decoding_error4.lnk", "C:\\Users\\admin\\AppData\\Local\\Temp\\MZ?"},
        {"extra_data.lnk", nullptr},
        {"invalid_date2.lnk", "", "C:\\Windows\\system32\\cmd.exe"},
        {"invalid_date3.lnk", "C:\\Users\\Ïîëüçîâàòåëü\\Desktop\\\u00A0"},
        {"microsoft_example.lnk", "C:\\test\\a.txt", "C:\\test\\a.txt"},
        {"network_info.lnk", "",
         "Z:\\A - LM METAL LIFT\\01.OBCHOD - BROŽURY - Prodejní a technické informace o "
         "produktech\\ETN\\ETN-Katalog-ENG\\Katalog ETN 10_2017\\Lift-programme\\ETN-lift "
         "programme 2017.pdf"},
        {"padded_cli_arguments.lnk", nullptr},
        {"sample.lnk", "C:\\Users\\Jonathan\\AppData\\Roaming\\.minecraft"},
        {"sample3.lnk", ""},
        {"sample5.lnk", "E:\\\u00A0\\\u00A0.exe", "E:\\\u00A0\\\u00A0.exe"},
        {"sample6.lnk", "C:\\Youdao\\ShoppingAssistant\\ie\\4.4\\²¥·ÅÆ÷ÕýÔÚ¼ÓÔØ£¨À¹½ØÇëÔÊÐí£©.exe",
         "C:\\Youdao\\ShoppingAssistant\\ie\\4.4\\??????????????.exe"},
        {"sample7.lnk", "", "C:\\ProgramData\\V?_DJ\\V?_DJ.exe"},
        {"sample16.lnk", "C:\\Users\\Asus-PC\\AppData\\Roaming\\Microsoft\\Windows\\Recent"},
        {"unknown_target.lnk", ""},
    };
    auto ansi = [](const char* utf8) { return Utf16ToAnsi(Utf8ToUtf16(utf8)); };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.file);
        ShellLinkInfo info;
        bool read = ReadShellLinkFile(samples / e.file, &info);
        EXPECT_EQ(read, e.localPath != nullptr);
        if (!read) continue;
        EXPECT_EQ(info.localPath, ansi(e.localPath));
        EXPECT_EQ(info.itemListPath, ansi(e.itemListPath));
    }
    ShellLinkInfo info;
    ASSERT_TRUE(ReadShellLinkFile(samples / "sample13.lnk", &info));
    EXPECT_EQ(info.environmentLocation, "%windir%\\system32\\cmd.exe");
}

// Every sample cut short and with bytes overwritten reads without fault; a cut shortcut
// names its whole target or nothing.
TEST(ShellLinkSamples, DamagedCopiesNeverReadWrongly) {
    fs::path samples = LnkSamples();
    if (samples.empty()) GTEST_SKIP() << "no test data";
    for (const auto& entry : fs::directory_iterator(samples)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes(std::istreambuf_iterator<char>(in), {});
        ShellLinkInfo whole;
        ParseShellLink(bytes, &whole);
        for (size_t cut = 0; cut < bytes.size(); cut += 7) {
            ShellLinkInfo info;
            if (!ParseShellLink(std::string_view(bytes).substr(0, cut), &info)) continue;
            EXPECT_TRUE(info.localPath.empty() || info.localPath == whole.localPath)
                << entry.path() << " cut at " << cut;
        }
        for (size_t at = 0; at < std::min<size_t>(bytes.size(), 1024); at += 3) {
            std::string damaged = bytes;
            damaged[at] = static_cast<char>(~damaged[at]);
            ShellLinkInfo info;
            ParseShellLink(damaged, &info);
        }
    }
}

// A location block whose texts run past its end is refused before the library reads it,
// as a file and as bytes (the real samples, whose blocks are sound, read as before).
TEST(ShellLinkSamples, LocationTextsPastTheirBlockAreRefused) {
    const fs::path file =
        fs::path(HIVEWISE_SOURCE_DIR) / "fuzz/reproducers/shell_link-network-name-past-block.lnk";
    std::ifstream in(file, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(bytes.empty());
    ShellLinkInfo info;
    EXPECT_FALSE(ParseShellLink(bytes, &info));
    EXPECT_FALSE(ReadShellLinkFile(file, &info));
}

// The most memory the process has ever mapped, from the kernel's own count.
long PeakMappedKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmPeak:", 0) == 0) return std::stol(line.substr(7));
    }
    return 0;
}

// A location block claiming nearly 4 GiB in a shortcut of a few hundred bytes is refused
// before liblnk allocates what it claims.
TEST_F(ShortcutScannerTest, OversizedLocationBlockIsNeverAllocated) {
    ShellLinkFields fields;
    fields.targetPath = "C:\\Tools\\tool.exe";
    std::string bytes = BuildShellLink(fields);
    ASSERT_GT(bytes.size(), 80u);
    uint32_t flags = 0;
    std::memcpy(&flags, bytes.data() + 20, 4);
    ASSERT_TRUE(flags & 0x2) << "the shortcut has a location block";
    size_t at = 76;
    if (flags & 0x1)
        at += 2 +
              (static_cast<unsigned char>(bytes[76]) | static_cast<unsigned char>(bytes[77]) << 8);
    uint32_t claimed = 0;
    std::memcpy(&claimed, bytes.data() + at, 4);
    ASSERT_LE(claimed, bytes.size() - at);
    ShellLinkInfo info;
    ASSERT_TRUE(ParseShellLink(bytes, &info));
    EXPECT_EQ(info.localPath, "C:\\Tools\\tool.exe");

    claimed = 0xFFFFFFF0;
    std::memcpy(bytes.data() + at, &claimed, 4);
    fs::path file = prefix.Dir() / "drive_c" / "huge.lnk";
    std::ofstream(file, std::ios::binary) << bytes;
    long before = PeakMappedKib();
    EXPECT_FALSE(ParseShellLink(bytes, &info));
    EXPECT_FALSE(ReadShellLinkFile(file, &info));
    EXPECT_EQ(info.localPath, "");
    EXPECT_LT(PeakMappedKib() - before, 1L << 20) << "KiB mapped while reading";
}

TEST_F(ShortcutScannerTest, SmallSamplesOnTheDrive) {
    fs::path samples = LnkSamples();
    if (samples.empty()) GTEST_SKIP() << "no test data";
    for (const auto& entry : fs::directory_iterator(samples)) {
        fs::copy_file(entry.path(), prefix.Dir() / "drive_c" / entry.path().filename());
    }
    auto machine = Load();
    ASSERT_TRUE(machine);
    // Only files below 1024 bytes are opened; E: is no drive of this machine.
    EXPECT_EQ(
        Shortcuts(RunWalk(*machine, "C:\\")),
        (std::vector<std::string>{
            "C:\\broken_link_info.lnk -> C:\\Program Files\\xt\\xt.exe",
            "C:\\decoding_error4.lnk -> C:\\Users\\admin\\AppData\\Local\\Temp\\MZ?",
            "C:\\invalid_date2.lnk -> C:\\Windows\\system32\\cmd.exe",
            "C:\\invalid_date3.lnk -> C:\\Users\\\xCF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB"
            "\xFC\\Desktop\\\xA0",
            "C:\\microsoft_example.lnk -> C:\\test\\a.txt",
            "C:\\sample16.lnk -> C:\\Users\\Asus-PC\\AppData\\Roaming\\Microsoft\\Windows\\Recent",
            "C:\\sample17.lnk -> C:\\Users\\Asus-PC\\Downloads",
            "C:\\sample7.lnk -> C:\\ProgramData\\V?_DJ\\V?_DJ.exe",
            "C:\\unknown_block.lnk -> C:\\Windows\\system32\\cmd.exe",
        }));
}

TEST(ShortcutSampleMachine, FindsExactlyTheStaleShortcuts) {
    std::string pattern = (fs::temp_directory_path() / "hivewise-links-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(fs::path(HIVEWISE_SOURCE_DIR) / "data" / "sample-machine",
                                    dir / "m", &error))
        << error;
    auto loaded = Machine::Load(dir / "m", {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;
    const std::string user = "C:\\Documents and Settings\\user\\";
    const std::string racer = "C:\\Program Files\\Tailspin\\Racer\\racer.exe";
    EXPECT_EQ(Shortcuts(RunWalk(*loaded.machine, "C:\\")),
              (std::vector<std::string>{
                  "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Woodgrove Budget "
                  "Helper.lnk -> C:\\Program Files\\Woodgrove\\Budget\\budget.exe",
                  user + "Desktop\\Tailspin Racer.lnk -> " + racer,
                  user + "Recent\\old-logo.nwp.lnk -> " + user + "My Documents\\old-logo.nwp",
                  user + "Start Menu\\Programs\\Proseware PhotoSnap.lnk -> C:\\Program "
                         "Files\\Proseware\\PhotoSnap\\photosnap.exe",
                  user + "Start Menu\\Programs\\Tailspin Racer\\Tailspin Racer.lnk -> " + racer,
              }));
    loaded.machine.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace hivewise
