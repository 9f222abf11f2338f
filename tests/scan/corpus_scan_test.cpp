#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/machine/shell_link_writer.h"
#include "platform/machine/wine_fonts.h"
#include "platform/registry/registry_access.h"
#include "platform/temp_prefix.h"
#include "scan/scan_context.h"
#include "scan/scan_driver.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

class CollectingSink : public ProblemSink {
  public:
    void ProblemFound(std::unique_ptr<Problem> problem) override { found.push_back(*problem); }
    std::vector<Problem> found;
};

// A prefix made by Wine's own first start: its three registry files, its drive_c rebuilt
// as empty files from drive_c.list, and the drives of dosdevices.list. The profile links
// point at a folder of the temporary prefix instead of the home folder, and Z: at the
// temporary prefix instead of the host's root, so that nothing outside is reached.
class WineCorpus {
  public:
    static fs::path Data() {
        fs::path dir = testing::TestDataDir();
        if (dir.empty() || !fs::exists(dir / "wine-prefix" / "system.reg")) return {};
        return dir / "wine-prefix";
    }

    explicit WineCorpus(const fs::path& data) {
        for (const char* hive : {"system.reg", "user.reg", "userdef.reg"}) {
            fs::copy_file(data / hive, prefix.Dir() / hive, fs::copy_options::overwrite_existing);
        }
        fs::path home = prefix.Dir() / "home";
        fs::create_directories(home);
        // As in a real home folder, the prefix is found again below it.
        fs::create_directory_symlink(prefix.Dir(), home / ".wine");
        std::ifstream list(data / "drive_c.list");
        std::string type, size, relative;
        while (list >> type >> size && std::getline(list >> std::ws, relative)) {
            fs::path host = prefix.Dir() / "drive_c" / relative;
            fs::create_directories(host.parent_path());
            if (type == "d") fs::create_directories(host);
            if (type == "f") std::ofstream(host, std::ios::binary).flush();
            if (type == "l") fs::create_directory_symlink(home, host);
            ++entries;
        }
        std::ifstream devices(data / "dosdevices.list");
        std::string line;
        while (std::getline(devices, line)) {
            std::istringstream fields(line);
            std::string name, target;
            fields >> name >> target;
            fs::path link = prefix.Dir() / "dosdevices" / name;
            if (name == "z:") fs::create_directory_symlink(prefix.Dir(), link);
            // c: stands as the prefix has it (../drive_c); other devices are no drives.
        }
    }

    size_t AddHostFonts(Machine& machine) {
        RegistryAccess registry(machine);
        RegHandle key = 0;
        if (registry.OpenKey(kHkeyLocalMachine,
                             "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", kKeyRead,
                             &key) != kErrorSuccess) {
            return 0;
        }
        size_t added = 0;
        std::string name, data;
        uint32_t type = 0;
        for (uint32_t i = 0;
             registry.EnumValue(key, i, &name, 16383, &type, &data, 260) == kErrorSuccess; ++i) {
            data = data.substr(0, data.find('\0'));
            if (data.size() < 4 || data.compare(0, 3, "Z:\\") != 0) continue;
            std::string relative = data.substr(3);
            std::replace(relative.begin(), relative.end(), '\\', '/');
            fs::path host = prefix.Dir() / relative;
            fs::create_directories(host.parent_path());
            std::ofstream(host, std::ios::binary).flush();
            ++added;
        }
        registry.CloseKey(key);
        return added;
    }

    testing::TempPrefix prefix;
    size_t entries = 0;
};

// Every scanner of the scan table over the corpus machine reports nothing that is there.
TEST(CorpusScan, ReportsNoReferenceThatExists) {
    fs::path data = WineCorpus::Data();
    if (data.empty()) GTEST_SKIP() << "no test data";
    WineCorpus corpus(data);
    ASSERT_GT(corpus.entries, 500u);
    auto machine = corpus.prefix.Load({.lockPrefix = false, .readOnly = true});
    ASSERT_TRUE(machine) << corpus.prefix.LastError();
    // Wine registers the host's fonts by their Z: paths; they stood on the machine that
    // made the prefix, so they stand under the temporary Z: too.
    size_t hostFonts = corpus.AddHostFonts(*machine);
    EXPECT_GT(hostFonts, 0u);
    // A shortcut on the desktop (the home folder) to a program of the prefix.
    ShellLinkFields notepad;
    notepad.targetPath = "C:\\windows\\notepad.exe";
    corpus.prefix.Write("home/Notepad.lnk", BuildShellLink(notepad));

    std::atomic<int> flag{1};
    CollectingSink sink;
    ScanStatus status;
    ScanContext context(*machine, flag, sink, status);
    size_t scanners = 0;
    const ScannerTable table = BuiltInScanners();
    for (const auto& section : table) {
        for (Scanner scanner : section) {
            scanner(context);
            ++scanners;
        }
    }
    ASSERT_GE(scanners, 5u);
    // The startup, sound, user-assist and shortcut scanners are among them; the shortcut
    // walk runs over the rebuilt drive_c, through its profile links and back.
    for (int section : {8, 12, 13, 14}) {
        EXPECT_FALSE(table[static_cast<size_t>(section)].empty()) << section;
    }

    // Bitmap fonts Wine registers by bare name and serves from its own data folder: they
    // are reported only where this computer's Wine lacks them too.
    const char* hostPath = std::getenv("PATH");
    WineFonts wineFonts(WineFontFolders(hostPath ? hostPath : ""));
    std::set<std::string> knownStale;
    for (const char* font : {"coure.fon", "serife.fon", "smalle.fon", "sserife.fon"}) {
        std::string inFontsFolder = std::string("C:\\windows\\Fonts\\") + font;
        bool reported = false;
        for (const Problem& problem : sink.found)
            reported = reported || problem.valueData == inFontsFolder;
        EXPECT_EQ(reported, !wineFonts.Ships(font)) << font;
        knownStale.insert(inFontsFolder);
    }
    // Files Wine registers but does not install: a service of a framework that is not
    // there, the music synthesiser's sound set, a service library, the page file.
    for (const char* path :
         {"c:\\windows\\microsoft.net\\framework\\v3.0\\wpf\\presentationfontcache.exe",
          "c:\\windows\\system32\\drivers\\gm.dls", "c:\\windows\\system32\\srvsvc.dll",
          "c:\\pagefile.sys 27 77"}) {
        knownStale.insert(path);
    }
    // 16-bit class servers Wine registers by bare name and serves from its own library
    // folder: no such file is anywhere in a 64-bit prefix.
    auto isSixteenBitServer = [](const Problem& p) {
        return p.sectionId == 1 && p.location.ends_with("\\InprocServer") &&
               (p.valueData == "avifile.dll" || p.valueData == "ole2disp.dll");
    };
    std::array<int, kSectionCount> perSection{};
    for (const Problem& problem : sink.found) {
        SCOPED_TRACE(problem.location + " [" + problem.valueName + "] " + problem.valueData);
        if (problem.sectionId >= 0 && problem.sectionId < kSectionCount) {
            ++perSection[static_cast<size_t>(problem.sectionId)];
        }
        EXPECT_FALSE(context.Files().PathFileExists(problem.valueData));
        if (knownStale.count(problem.valueData) || isSixteenBitServer(problem)) continue;
        // Nor does any leading part of it name a file (a program with its arguments).
        std::string text = problem.valueData;
        for (char& c : text) {
            if (c == '"') c = ' ';
        }
        for (size_t blank = text.find(' '); blank != std::string::npos;
             blank = text.find(' ', blank + 1)) {
            std::string head = text.substr(0, blank);
            size_t start = head.find_first_not_of(' ');
            if (start == std::string::npos) continue;
            EXPECT_FALSE(context.Files().PathFileExists(head.substr(start))) << head;
        }
        ADD_FAILURE() << "not a known stale entry of the corpus";
    }
    // Every class, identifier, type library and extension of a fresh prefix resolves, but
    // for the twelve 16-bit servers.
    EXPECT_EQ(table[2].size(), 2u);
    EXPECT_EQ(table[11].size(), 1u);
    EXPECT_EQ(perSection[1], 12);
    EXPECT_EQ(perSection[2], 0);
    EXPECT_EQ(perSection[11], 0);
    // The services and the whole-registry walk report Wine's unshipped files, each once; no
    // static driver is registered.
    EXPECT_EQ(perSection[9], 1);
    EXPECT_EQ(perSection[10], 0);
    EXPECT_EQ(perSection[13], 4);
}

}  // namespace
}  // namespace hivewise
