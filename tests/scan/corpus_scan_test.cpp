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

    // A registry fresh from Wine holds no stale entry: what Wine registers without
    // installing it (16-bit class servers, its bitmap fonts, a framework's service, the page
    // file list, the synthesiser's sound set) is Wine's own and comes back at its next update.
    for (const Problem& problem : sink.found) {
        EXPECT_FALSE(context.Files().PathFileExists(std::string(problem.ValueData())));
        ADD_FAILURE() << "section " << problem.sectionId << ": " << problem.Location() << " ["
                      << problem.ValueName() << "] " << problem.ValueData();
    }
    EXPECT_EQ(table[2].size(), 2u);
    EXPECT_EQ(table[11].size(), 1u);
}

}  // namespace
}  // namespace hivewise
