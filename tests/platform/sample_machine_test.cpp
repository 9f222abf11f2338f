#include "platform/machine/sample_machine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/files/file_system_access.h"
#include "platform/files/path_resolver.h"
#include "platform/machine/machine.h"
#include "platform/machine/text.h"
#include "platform/registry/hive_file.h"
#include "platform/registry/registry_access.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

fs::path TemplateDir() {
    return fs::path(HIVEWISE_SOURCE_DIR) / "data" / "sample-machine";
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "hivewise-sample-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& operator*() const { return path_; }
    fs::path operator/(const fs::path& p) const { return path_ / p; }

  private:
    fs::path path_;
};

void Touch(const fs::path& path, const std::string& content = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Rot13(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    }
    return text;
}

// The sample machine built once from the shipped template and loaded.
class SampleMachineContent : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        std::string error;
        ASSERT_TRUE(CreateSampleMachine(TemplateDir(), **dir_ / "machine", &error)) << error;
        auto loaded = Machine::Load(**dir_ / "machine", {.lockPrefix = false});
        ASSERT_TRUE(loaded.machine) << loaded.error;
        machine_ = loaded.machine.release();
    }
    static void TearDownTestSuite() {
        delete machine_;
        delete dir_;
        machine_ = nullptr;
        dir_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(machine_);
        files = std::make_unique<FileSystemAccess>(*machine_);
        registry = std::make_unique<RegistryAccess>(*machine_);
    }

    static TempDir* dir_;
    static Machine* machine_;
    std::unique_ptr<FileSystemAccess> files;
    std::unique_ptr<RegistryAccess> registry;
};
TempDir* SampleMachineContent::dir_ = nullptr;
Machine* SampleMachineContent::machine_ = nullptr;

TEST_F(SampleMachineContent, IsAnXpMachineWithItsFoldersInPlace) {
    const VersionFacts& v = machine_->Version();
    EXPECT_TRUE(v.isNt);
    EXPECT_EQ(v.major, 5u);
    EXPECT_EQ(v.minor, 1u);
    EXPECT_EQ(v.build, 2600u);
    EXPECT_EQ(v.servicePack, "Service Pack 2");
    EXPECT_EQ(v.productType, "WinNT");
    EXPECT_EQ(Utf16ToUtf8(machine_->UserSid()), "S-1-5-21-0-0-0-1000");

    EXPECT_EQ(files->WindowsDirectory(), "C:\\WINDOWS");
    EXPECT_EQ(files->ProgramFilesDirectory(), "C:\\Program Files");
    EXPECT_EQ(machine_->GetEnv("USERPROFILE"), "C:\\Documents and Settings\\user");
    EXPECT_EQ(machine_->GetEnv("USERNAME"), "user");
    EXPECT_EQ(machine_->GetEnv("ALLUSERSPROFILE"), "C:\\Documents and Settings\\All Users");
    EXPECT_EQ(machine_->GetEnv("TEMP"), "C:\\Documents and Settings\\user\\Local Settings\\Temp");
    EXPECT_EQ(machine_->GetEnv("ComSpec"), "C:\\WINDOWS\\system32\\cmd.exe");

    EXPECT_TRUE(files->IsDirectory(machine_->GetEnv("TEMP").value_or("")));
    // Every shell folder of the user names a folder that exists.
    RegHandle key = 0;
    ASSERT_EQ(registry->OpenKey(kHkeyCurrentUser,
                                "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell "
                                "Folders",
                                kKeyRead, &key),
              kErrorSuccess);
    uint32_t subKeys = 0, values = 0;
    ASSERT_EQ(registry->QueryInfoKey(key, &subKeys, &values), kErrorSuccess);
    EXPECT_GE(values, 15u);
    for (uint32_t i = 0; i < values; ++i) {
        std::string name, data;
        uint32_t type = 0;
        ASSERT_EQ(registry->EnumValue(key, i, &name, 16383, &type, &data), kErrorSuccess);
        data = data.substr(0, data.find('\0'));
        EXPECT_TRUE(files->IsDirectory(data)) << name << " = " << data;
    }
    registry->CloseKey(key);
}

enum class Check {
    Path,       // the value names the file `path` (`needle` found in its data)
    ValueName,  // a value named `path` exists
    Font,       // a font file: a bare name lives in the Windows Fonts folder
    Help,       // the value's data is the folder, its name the file
    ClassKey,   // the value's data names a key of HKEY_CLASSES_ROOT ("CLSID\" + data for braces)
};

struct Entry {
    int section;
    RegHandle root;
    std::string key;
    std::string value;
    Check check;
    std::string path;
    bool healthy;
    std::string needle = {};  // when the data holds the path in another form
};

constexpr const char* kCv = "Software\\Microsoft\\Windows\\CurrentVersion\\";

std::vector<Entry> Entries() {
    const std::string cv = kCv, svc = "System\\CurrentControlSet\\Services\\";
    const std::string fonts = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    const std::string pf = "C:\\Program Files\\", win = "C:\\WINDOWS\\";
    const std::string docs = "C:\\Documents and Settings\\user\\My Documents\\";
    const RegHandle cr = kHkeyClassesRoot, lm = kHkeyLocalMachine, cu = kHkeyCurrentUser;
    const Check path = Check::Path, cls = Check::ClassKey;
    return {
        {1, cr, "CLSID\\{6A1D3E20-5B7C-4F1A-9C2E-0B4D8E7F1A01}\\InprocServer32", "", path,
         pf + "Northwind\\Paint\\nwpaintx.dll", true},
        {1, cr, "CLSID\\{7A11E5D0-0C1B-4D2E-9F3A-4B5C6D7E8F01}\\LocalServer32", "", path,
         pf + "Tailspin\\Racer\\racer.exe", false},
        {1, cr, "CLSID\\{B0D6E8F0-6A7B-4C8D-9E0F-1A2B3C4D5E01}\\InprocServer32", "", path,
         win + "System32\\wgbudget.dll", false},
        {2, cr, "Northwind.PaintDoc.3\\CLSID", "", cls, "", true},
        {2, cr, "Tailspin.RaceGhost.1\\CLSID", "", cls, "", false},
        {2, cr, "TypeLib\\{6A1D3E20-5B7C-4F1A-9C2E-0B4D8E7F1A10}\\3.0\\0\\win32", "", path,
         pf + "Northwind\\Paint\\nwpaint.tlb", true},
        {2, cr, "TypeLib\\{7A11E5D0-0C1B-4D2E-9F3A-4B5C6D7E8F10}\\1.0\\HELPDIR", "", path,
         pf + "Tailspin\\Racer", false},
        {3, lm, cv + "Uninstall\\Northwind Paint 3", "UninstallString", path,
         pf + "Northwind\\Paint\\uninst.exe", true},
        {3, lm, cv + "Uninstall\\Woodgrove Budget Helper", "UninstallString", path,
         pf + "Woodgrove\\Budget\\unwise.exe", false},
        {4, lm, cv + "App Paths\\notes.exe", "", path, pf + "Litware\\Notes\\notes.exe", true},
        {4, lm, cv + "App Paths\\photosnap.exe", "", path,
         pf + "Proseware\\PhotoSnap\\photosnap.exe", false},
        {5, lm, fonts, "Northwind Sans (TrueType)", Check::Font, "nwsans.ttf", true},
        {5, lm, fonts, "Contoso Display (TrueType)", Check::Font,
         pf + "Contoso\\Player\\Fonts\\cpdisp.ttf", true},
        {5, lm, fonts, "Tailspin Stencil (TrueType)", Check::Font, "tsstenc.ttf", false},
        {6, lm, cv + "SharedDLLs", "", Check::ValueName, pf + "Common Files\\Contoso\\cpshared.dll",
         true},
        {6, lm, cv + "SharedDLLs", "", Check::ValueName, win + "system32\\wgbudget.dll", false},
        {7, lm, "Software\\Microsoft\\Windows\\Help", "notes.hlp", Check::Help, "", true},
        {7, lm, "Software\\Microsoft\\Windows\\Help", "racer.hlp", Check::Help, "", false},
        {8, lm, cv + "Run", "FabrikamScheduler", path, pf + "Fabrikam\\Backup\\fbsched.exe", true},
        {8, lm, cv + "Run", "TailspinUpdate", path, pf + "Tailspin\\Racer\\tsupdate.exe", false},
        {8, cu, cv + "Run", "LitwareQuickNotes", path, pf + "Litware\\Notes\\notesq.exe", true},
        {8, cu, cv + "Run", "PhotoSnapAgent", path, pf + "Proseware\\PhotoSnap\\psagent.exe",
         false},
        {9, lm, svc + "Beep", "ImagePath", path, win + "system32\\drivers\\beep.sys", true,
         "drivers\\beep.sys"},
        {9, lm, svc + "TsGuard", "ImagePath", path, pf + "Tailspin\\Racer\\tsguard.sys", false},
        {10, lm, svc + "VxD\\NWAUDIO", "StaticVxD", path, win + "system32\\nwaudio.vxd", true,
         "nwaudio.vxd"},
        {10, lm, svc + "VxD\\TSJOY", "StaticVxD", path, win + "system32\\tsjoy.vxd", false,
         "tsjoy.vxd"},
        {11, cr, ".nwp", "", cls, "", true},
        {11, cr, ".tsr", "", cls, "", false},
        {11, cr, ".wgb\\PersistentHandler", "", cls, "", false},
        {12, cu, "Control Panel\\Sounds", "SystemDefault", path, win + "Media\\ding.wav", true},
        {12, cu, "Control Panel\\Sounds", "SystemHand", path, win + "Media\\critical.wav", false},
        {13, lm, "Software\\Adventure Works\\Trail Planner", "InstallDir", path,
         pf + "Adventure Works\\Trail Planner", true},
        {13, lm, "Software\\Adventure Works\\Trail Planner", "MapCache", path,
         pf + "Adventure Works\\Trail Planner\\maps\\cache.dat", false},
        {13, cu, "Software\\Northwind\\Paint\\3.2\\Recent File List", "File3", path,
         docs + "old-logo.nwp", false},
    };
}

// Each scan section of the sample has entries that hold and entries left behind.
TEST_F(SampleMachineContent, EverySectionHasHealthyAndStaleEntries) {
    std::map<int, std::pair<int, int>> counts;  // section -> healthy, stale
    for (const Entry& e : Entries()) {
        SCOPED_TRACE(e.key + " / " + e.value + " / " + e.path);
        ASSERT_TRUE(registry->KeyExists(e.root, e.key));
        std::string data = registry->ReadStringValue(e.root, e.key, e.value);
        bool present = false;
        switch (e.check) {
            case Check::Path: {
                auto expanded = files->ExpandEnvironmentStrings(data);
                ASSERT_TRUE(expanded);
                const std::string& needle = e.needle.empty() ? e.path : e.needle;
                EXPECT_NE(AnsiLower(*expanded).find(AnsiLower(needle)), std::string::npos)
                    << *expanded;
                present = files->PathFileExists(e.path);
                break;
            }
            case Check::ValueName: {
                RegHandle key = 0;
                ASSERT_EQ(registry->OpenKey(e.root, e.key, kKeyRead, &key), kErrorSuccess);
                uint32_t type = 0;
                std::string ignored;
                EXPECT_EQ(registry->QueryValue(key, e.path, 64, &type, &ignored), kErrorSuccess);
                registry->CloseKey(key);
                present = files->PathFileExists(e.path);
                break;
            }
            case Check::Font: {
                EXPECT_EQ(data, e.path);
                std::string file = data.find(':') != std::string::npos
                                       ? data
                                       : files->WindowsDirectory() + "\\Fonts\\" + data;
                present = files->PathFileExists(file);
                break;
            }
            case Check::Help:
                ASSERT_FALSE(data.empty());
                if (data.back() == '\\') data.pop_back();
                EXPECT_TRUE(data.find(":\\") == 1) << data;
                present = files->PathFileExists(data + "\\" + e.value);
                break;
            case Check::ClassKey:
                present = !data.empty() &&
                          registry->KeyExists(kHkeyClassesRoot,
                                              data.front() == '{' ? "CLSID\\" + data : data);
                break;
        }
        EXPECT_EQ(present, e.healthy);
        auto& [healthy, stale] = counts[e.section];
        (e.healthy ? healthy : stale)++;
    }
    // A file extension whose key holds nothing at all.
    EXPECT_EQ(registry->CountSubKeys(kHkeyClassesRoot, ".awt"), 0u);
    EXPECT_EQ(registry->CountValues(kHkeyClassesRoot, ".awt", false), 0u);

    for (int section = 1; section <= 13; ++section) {
        EXPECT_GE(counts[section].first, 1) << "section " << section;
        EXPECT_GE(counts[section].second, 1) << "section " << section;
    }
}

TEST_F(SampleMachineContent, UserAssistNamesDecodeToPresentAndMissingPrograms) {
    const std::string count =
        std::string(kCv) + "Explorer\\UserAssist\\{75048700-EF1F-11D0-9888-006097DEACF9}\\Count";
    RegHandle key = 0;
    ASSERT_EQ(registry->OpenKey(kHkeyCurrentUser, count, kKeyRead, &key), kErrorSuccess);
    uint32_t subKeys = 0, values = 0;
    ASSERT_EQ(registry->QueryInfoKey(key, &subKeys, &values), kErrorSuccess);
    std::map<std::string, bool> programs;
    for (uint32_t i = 0; i < values; ++i) {
        std::string name;
        ASSERT_EQ(registry->EnumValue(key, i, &name), kErrorSuccess);
        std::string decoded = Rot13(name);
        if (decoded.rfind("UEME_RUNPATH:", 0) == 0) {
            std::string path = decoded.substr(13);
            programs[path] = files->PathFileExists(path);
        }
    }
    registry->CloseKey(key);
    EXPECT_EQ(programs["C:\\Program Files\\Northwind\\Paint\\nwpaint.exe"], true);
    EXPECT_EQ(programs["C:\\Program Files\\Tailspin\\Racer\\racer.exe"], false);
    EXPECT_EQ(programs["C:\\Program Files\\Proseware\\PhotoSnap\\photosnap.exe"], false);
}

// The local path a shortcut file holds (the field every reader resolves first).
std::string LinkTarget(const std::string& bytes) {
    if (bytes.size() < 80) return {};
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<uint8_t>(bytes.at(at + i));
        return v;
    };
    size_t info = 76;
    return std::string(bytes.c_str() + info + u32(info + 16));
}

TEST_F(SampleMachineContent, ShortcutsPointAtPresentAndMissingTargets) {
    const std::string user = "C:\\Documents and Settings\\user\\";
    const std::pair<std::string, bool> links[] = {
        {user + "Desktop\\Litware Notes.lnk", true},
        {user + "Desktop\\Paintings.lnk", true},  // a folder
        {user + "Start Menu\\Programs\\Northwind Paint\\Northwind Paint.lnk", true},
        {user + "Desktop\\Tailspin Racer.lnk", false},
        {user + "Recent\\old-logo.nwp.lnk", false},
        {"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Woodgrove Budget "
         "Helper.lnk",
         false},
    };
    for (const auto& [link, present] : links) {
        auto host = machine_->Paths().ToHost(link);
        ASSERT_TRUE(host) << link;
        std::string bytes = ReadFile(*host);
        EXPECT_LT(bytes.size(), 1024u) << link;  // small enough to be examined at all
        std::string target = LinkTarget(bytes);
        ASSERT_FALSE(target.empty()) << link;
        EXPECT_EQ(files->PathFileExists(target), present) << link << " -> " << target;
    }
}

// The template's registry files are written exactly as the prefix's own writer writes
// them, so that a first save changes nothing but what was changed.
TEST(SampleMachineCreation, TemplateRegistryFilesAreInTheWritersOwnForm) {
    for (const char* file : {"system.reg", "user.reg", "userdef.reg"}) {
        SCOPED_TRACE(file);
        std::string content = ReadFile(TemplateDir() / file);
        HiveParseError error;
        auto parsed = ParseHive(content, &error);
        ASSERT_TRUE(parsed) << error.line << ": " << error.message;
        EXPECT_NE(parsed->header.find("#arch=win32"), std::string::npos);
        EXPECT_EQ(WriteHive(*parsed->base, parsed->header, parsed->trailer, false), content);
    }
}

TEST(SampleMachineCreation, BuildsDrivesAndFilesAndRefusesAnOccupiedTarget) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(CreateSampleMachine(TemplateDir(), dir / "m", &error)) << error;
    EXPECT_EQ(fs::read_symlink(dir / "m/dosdevices/c:"), "../drive_c");
    EXPECT_EQ(fs::read_symlink(dir / "m/dosdevices/z:"), "/");
    EXPECT_EQ(ReadFile(dir / "m/system.reg"), ReadFile(TemplateDir() / "system.reg"));
    EXPECT_EQ(ReadFile(dir / "m/drive_c/Program Files/Northwind/Paint/nwpaint.exe").substr(0, 2),
              "MZ");
    EXPECT_TRUE(fs::is_directory(dir / "m/drive_c/Documents and Settings/user/NetHood"));
    // Only the machine itself is left in the parent folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(*dir), fs::directory_iterator()), 1);

    // What an interrupted creation left is cleared by the next one; a live build is not.
    Touch(dir / ".n.new-2147483647-0/system.reg");
    const std::string live = ".n.new-" + std::to_string(::getpid()) + "-7";
    fs::create_directory(dir / live);
    ASSERT_TRUE(CreateSampleMachine(TemplateDir(), dir / "n", &error)) << error;
    EXPECT_FALSE(fs::exists(dir / ".n.new-2147483647-0"));
    EXPECT_TRUE(fs::exists(dir / live));
    fs::remove(dir / live);

    Touch(dir / "m/mark", "mine");
    EXPECT_FALSE(CreateSampleMachine(TemplateDir(), dir / "m", &error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir / "m/mark"), "mine");

    // An empty folder may be taken over.
    fs::create_directory(dir / "empty");
    EXPECT_TRUE(CreateSampleMachine(TemplateDir(), dir / "empty", &error)) << error;
    EXPECT_TRUE(fs::is_regular_file(dir / "empty/user.reg"));
}

TEST(SampleMachineCreation, ABadTemplateLeavesNothingBehind) {
    TempDir dir;
    const fs::path bad = dir / "template";
    fs::create_directories(bad);
    for (const char* file : {"system.reg", "user.reg", "userdef.reg"})
        fs::copy_file(TemplateDir() / file, bad / file);
    fs::create_directory(dir / "out");

    struct Case {
        const char* manifest;
        const char* expect;
    };
    for (const Case& c :
         {Case{"d WINDOWS\nf ../escape.txt\n", "line 2"}, Case{"d /etc\n", "line 1"},
          Case{"f a/./b\n", "line 1"}, Case{"x WINDOWS\n", "line 1"},
          Case{"l Desktop/a.lnk\n", "line 1"}, Case{"l Desktop/a.txt -> C:\\a.exe\n", "line 1"},
          Case{"# comment\n\nl Desktop/a.lnk -> a.exe\n", "line 3"}}) {
        SCOPED_TRACE(c.manifest);
        Touch(bad / "drive_c.manifest", c.manifest);
        std::string error;
        EXPECT_FALSE(CreateSampleMachine(bad, dir / "out" / "m", &error));
        EXPECT_NE(error.find(c.expect), std::string::npos) << error;
        EXPECT_TRUE(fs::is_empty(dir / "out")) << "no machine and no half-built folder";
        EXPECT_FALSE(fs::exists(*dir / "escape.txt"));
    }

    Touch(bad / "drive_c.manifest", "d WINDOWS\n");
    Touch(bad / "user.reg", "WINE REGISTRY Version 2\n[unterminated\n");
    std::string error;
    EXPECT_FALSE(CreateSampleMachine(bad, dir / "out" / "m", &error));
    EXPECT_NE(error.find("user.reg"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// A home folder, an installed program beside the shipped template, and the environment.
class ChooseMachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root / "home");
        Touch(root / "inst/bin/hivewise", "program");
        fs::create_directories(root / "inst/share/hivewise");
        fs::create_directory_symlink(TemplateDir(), root / "inst/share/hivewise/sample-machine");
        env = {{"HOME", (root / "home").string()}};
    }
    fs::path Exe() const { return root / "inst/bin/hivewise"; }
    fs::path MakePrefix(const fs::path& dir) const {
        Touch(dir / "system.reg", "WINE REGISTRY Version 2\n");
        return dir;
    }

    TempDir root;
    std::map<std::string, std::string> env;
};

TEST_F(ChooseMachineTest, AFreshHomeGetsTheSampleMachineOnceAndKeepsIt) {
    MachineChoice first = ChooseMachine(std::nullopt, env, Exe());
    ASSERT_TRUE(first.error.empty()) << first.error;
    const fs::path sample = root / "home/.local/share/hivewise/sample-machine";
    EXPECT_EQ(first.folder, sample);
    EXPECT_TRUE(first.isSample);
    auto loaded = Machine::Load(first.folder, {.lockPrefix = false});
    ASSERT_TRUE(loaded.machine) << loaded.error;

    // The second start finds it and copies nothing again.
    Touch(sample / "drive_c/mark.txt", "kept");
    Touch(sample / "user.reg", ReadFile(sample / "user.reg") + "\n");
    MachineChoice second = ChooseMachine(std::nullopt, env, Exe());
    EXPECT_EQ(second.folder, sample);
    EXPECT_TRUE(second.isSample);
    EXPECT_EQ(ReadFile(sample / "drive_c/mark.txt"), "kept");
    EXPECT_EQ(ReadFile(sample / "user.reg"), ReadFile(TemplateDir() / "user.reg") + "\n");

    // XDG_DATA_HOME moves it; a relative one is ignored, as the XDG rules say.
    env["XDG_DATA_HOME"] = (root / "data").string();
    EXPECT_EQ(ChooseMachine(std::nullopt, env, Exe()).folder,
              root / "data/hivewise/sample-machine");
    env["XDG_DATA_HOME"] = "relative/data";
    EXPECT_EQ(ChooseMachine(std::nullopt, env, Exe()).folder, sample);
}

TEST_F(ChooseMachineTest, PrefixOptionThenWineprefixThenDotWine) {
    const fs::path dotWine = MakePrefix(root / "home/.wine");
    const fs::path fromEnv = MakePrefix(root / "env-prefix");
    const fs::path fromOption = MakePrefix(root / "option-prefix");

    MachineChoice choice = ChooseMachine(std::nullopt, env, Exe());
    EXPECT_EQ(choice.folder, dotWine);
    EXPECT_FALSE(choice.isSample);

    env["WINEPREFIX"] = fromEnv.string();
    EXPECT_EQ(ChooseMachine(std::nullopt, env, Exe()).folder, fromEnv);
    EXPECT_EQ(ChooseMachine(fromOption, env, Exe()).folder, fromOption);

    env["WINEPREFIX"] = "";  // empty counts as unset
    EXPECT_EQ(ChooseMachine(std::nullopt, env, Exe()).folder, dotWine);
    EXPECT_FALSE(fs::exists(root / "home/.local/share/hivewise"));
}

TEST_F(ChooseMachineTest, AFolderThatIsNoPrefixIsAnErrorNotAnEmptyMachine) {
    fs::create_directories(root / "not-a-prefix");
    fs::create_directories(root / "home/.wine");  // without system.reg: passed over
    for (int how = 0; how < 3; ++how) {
        std::map<std::string, std::string> e = env;
        std::optional<fs::path> option;
        if (how == 0) option = root / "not-a-prefix";
        if (how == 1) e["WINEPREFIX"] = (root / "not-a-prefix").string();
        if (how == 2) e["WINEPREFIX"] = (root / "missing").string();
        MachineChoice choice = ChooseMachine(option, e, Exe());
        EXPECT_TRUE(choice.folder.empty());
        EXPECT_FALSE(choice.error.empty());
        EXPECT_EQ(choice.error.find('\n'), std::string::npos) << choice.error;
        EXPECT_NE(choice.error.find(how == 2 ? "missing" : "not-a-prefix"), std::string::npos)
            << choice.error;
    }
    EXPECT_FALSE(fs::exists(root / "not-a-prefix/system.reg"));

    // The sample's own folder, damaged, is reported rather than overwritten.
    Touch(root / "home/.local/share/hivewise/sample-machine/notes.txt");
    MachineChoice damaged = ChooseMachine(std::nullopt, env, Exe());
    EXPECT_TRUE(damaged.folder.empty());
    EXPECT_NE(damaged.error.find("sample-machine"), std::string::npos) << damaged.error;

    // No template installed anywhere: said so. (A build that knows its source tree always
    // finds the template there.)
    fs::remove_all(root / "home/.local");
    Touch(root / "bare/hivewise");
    if (!FindSampleTemplate(root / "bare/hivewise")) {
        MachineChoice none = ChooseMachine(std::nullopt, env, root / "bare/hivewise");
        EXPECT_TRUE(none.folder.empty());
        EXPECT_NE(none.error.find("--prefix"), std::string::npos) << none.error;
    }
}

TEST_F(ChooseMachineTest, TemplateSearchOrder) {
    EXPECT_EQ(FindSampleTemplate(Exe(), "/nonexistent"),
              (root / "inst/share/hivewise/sample-machine").lexically_normal());
    Touch(root / "bare/hivewise");
    EXPECT_EQ(FindSampleTemplate(root / "bare/hivewise", TemplateDir().parent_path()),
              TemplateDir().lexically_normal());
    fs::create_directory_symlink(TemplateDir(), root / "bare/sample-machine");
    EXPECT_EQ(FindSampleTemplate(root / "bare/hivewise", "/nonexistent"),
              root / "bare/sample-machine");
}

class InstallProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(CreateSampleMachine(TemplateDir(), dir / "m", &error)) << error;
        Touch(dir / "bin/hivewise", "program");
        Touch(dir / "bin/other", "other");
        auto loaded = Machine::Load(dir / "m", {.lockPrefix = false});
        ASSERT_TRUE(loaded.machine) << loaded.error;
        machine = std::move(loaded.machine);
        link = dir / "m/drive_c/Program Files/Hivewise/hivewise.exe";
    }
    TempDir dir;
    std::unique_ptr<Machine> machine;
    fs::path link;
};

TEST_F(InstallProgramTest, LinksTheProgramIntoItsFolderOnceAndFixesAStaleLink) {
    FileSystemAccess files(*machine);
    EXPECT_FALSE(files.PathFileExists(machine->ProgramFile()));
    std::string error;
    ASSERT_TRUE(InstallProgram(*machine, dir / "bin/hivewise", &error)) << error;
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ(fs::read_symlink(link), fs::canonical(dir / "bin/hivewise"));
    EXPECT_TRUE(files.PathFileExists(machine->ProgramFile()));

    ASSERT_TRUE(InstallProgram(*machine, dir / "bin/hivewise", &error)) << error;
    EXPECT_EQ(fs::read_symlink(link), fs::canonical(dir / "bin/hivewise"));
    EXPECT_EQ(std::distance(fs::directory_iterator(link.parent_path()), fs::directory_iterator()),
              1);

    fs::remove(link);
    fs::create_symlink(dir / "gone/hivewise", link);
    ASSERT_TRUE(InstallProgram(*machine, dir / "bin/hivewise", &error)) << error;
    EXPECT_EQ(fs::read_symlink(link), fs::canonical(dir / "bin/hivewise"));
    EXPECT_EQ(std::distance(fs::directory_iterator(link.parent_path()), fs::directory_iterator()),
              1);
}

TEST_F(InstallProgramTest, KeepsTheUsersOwnFileAndFollowsTheFoldersCase) {
    // The folder exists already in another letter case, with the user's own copy in it.
    Touch(dir / "m/drive_c/PROGRAM FILES/HIVEWISE/Hivewise.exe", "user's copy");
    fs::remove_all(dir / "m/drive_c/Program Files");
    machine->Paths().InvalidateAll();
    std::string error;
    EXPECT_TRUE(InstallProgram(*machine, dir / "bin/hivewise", &error)) << error;
    EXPECT_EQ(ReadFile(dir / "m/drive_c/PROGRAM FILES/HIVEWISE/Hivewise.exe"), "user's copy");
    EXPECT_FALSE(fs::exists(dir / "m/drive_c/Program Files"));

    EXPECT_FALSE(InstallProgram(*machine, dir / "bin/missing", &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace hivewise
