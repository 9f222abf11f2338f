#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/files/xdg_folders.h"
#include "platform/temp_prefix.h"
#include "scan/scan_context.h"
#include "scan/scanners/menu_entries_scanner.h"

// A home folder built from the files Wine's menu builder really wrote (tests/data), with
// the capture's folders replaced by this test's home and prefixes, and the process's HOME
// and XDG folders pointed at it while the test runs.
namespace hivewise::testing {

inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

class MenuHome {
  public:
    MenuHome() {
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            const char* value = std::getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
        ::setenv("HOME", home.Dir().c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("XDG_CONFIG_HOME");
    }
    ~MenuHome() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    MenuHome(const MenuHome&) = delete;
    MenuHome& operator=(const MenuHome&) = delete;

    static std::filesystem::path Captured() {
        return std::filesystem::path(HIVEWISE_SOURCE_DIR) / "tests" / "data" / "menu-entries";
    }

    // Copies the captured files (their modes kept), naming `prefixA` and `prefixB`.
    void Fill(const std::filesystem::path& prefixA, const std::filesystem::path& prefixB) {
        namespace fs = std::filesystem;
        for (const char* top : {".config", ".local", "Desktop"}) {
            for (const auto& entry : fs::recursive_directory_iterator(Captured() / top)) {
                if (!entry.is_regular_file()) continue;
                fs::path relative = fs::relative(entry.path(), Captured());
                std::string bytes = ReadCaptured(relative);
                std::string ext = entry.path().extension().string();
                if (ext != ".png" && ext != ".lnk") bytes = Named(bytes, prefixA, prefixB);
                home.Write(relative, bytes);
                fs::permissions(home.Dir() / relative, entry.status().permissions());
            }
        }
    }

    // The captured MenuFiles section of a prefix ('A' or 'B'), naming this home.
    std::string MenuFilesSection(char which) const {
        std::string text = ReadCaptured(std::string("menufiles-") + which + ".reg");
        std::string regHome;
        for (char c : home.Dir().string())
            regHome += c == '/' ? std::string("\\\\") : std::string(1, c);
        return Replaced(text, "\\\\tmp\\\\menucap\\\\home", regHome) + "\n";
    }

    std::string Named(std::string text, const std::filesystem::path& a,
                      const std::filesystem::path& b) const {
        text = Replaced(std::move(text), "/tmp/menucap/home", home.Dir().string());
        text = Replaced(std::move(text), "/tmp/menucap/pfxA", a.string());
        return Replaced(std::move(text), "/tmp/menucap/pfxB", b.string());
    }

    static std::string ReadCaptured(const std::filesystem::path& relative) {
        std::ifstream in(Captured() / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path Data() const { return home.Dir() / ".local" / "share"; }
    std::filesystem::path Config() const { return home.Dir() / ".config"; }
    std::filesystem::path Desktop() const { return home.Dir() / "Desktop"; }
    XdgFolders Folders() const { return *CurrentXdgFolders(); }

    // Every file below the home with its mode and bytes, for comparing two states whole;
    // the caches the desktop's tools build from those files are left out.
    std::map<std::string, std::string> Snapshot() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home.Dir())) {
            std::string name = entry.path().filename().string();
            std::string mime = (Data() / "mime").string() + "/";
            std::string path = entry.path().string();
            bool mimeCache = path.rfind(mime, 0) == 0 && path.rfind(mime + "packages", 0) != 0;
            if (mimeCache || name == "mimeinfo.cache") continue;
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            std::string rel = std::filesystem::relative(entry.path(), home.Dir()).string();
            std::string content;
            if (S_ISREG(st.st_mode)) content = home.Read(rel);
            files[rel] = std::to_string(st.st_mode) + ":" + content;
        }
        return files;
    }

    TempFolder home{"hivewise-home"};

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// The shortcut and program paths the captured entries of a prefix launch.
constexpr const char* kStartMenuFolder =
    "users/root/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/FakeApp";
constexpr const char* kFakeAppExe = "Program Files/FakeApp/FakeApp.exe";
constexpr const char* kSoloAppExe = "Program Files/SoloApp/SoloApp.exe";

// Prefix A installed FakeApp and SoloApp, prefix B FakeApp again ("FakeApp B"); both
// share one home. B is the machine scanned.
namespace fs = std::filesystem;

class MenuEntriesTest : public ::testing::Test {
  public:
    void SetUp() override {
        for (TempPrefix* p : {&a, &b})
            p->File(kFakeAppExe, "MZ");
        a.File(kSoloAppExe, "MZ");
        a.File(std::string(kStartMenuFolder) + "/FakeApp.lnk", "L");
        b.File(std::string(kStartMenuFolder) + "/FakeApp B.lnk", "L");
        a.SystemReg("");
        a.UserReg("");
        home.Fill(a.Dir(), b.Dir());
    }

    // B's registry: its ProgID unless `unregistered`, its menu files and file type.
    std::unique_ptr<Machine> LoadB(bool unregistered = false) {
        std::string classes = unregistered ? "" : R"(
[Software\\Classes\\.fkb] 1700000000
@="FakeApp.fkbfile"

[Software\\Classes\\FakeApp.fkbfile\\shell\\open\\command] 1700000000
@="\"C:\\Program Files\\FakeApp\\FakeApp.exe\" \"%1\""
)";
        b.SystemReg(classes);
        // Where a repair keeps its backups and assembles them.
        b.File("Program Files/Hivewise/hivewise.exe", "MZ");
        b.File("windows/temp/readme.txt", "temp");
        b.UserReg(home.MenuFilesSection('B') + R"(
[Environment] 1700000000
"TEMP"="C:\\windows\\temp"
"TMP"="C:\\windows\\temp"

[Software\\Wine\\FileOpenAssociations\\.fkb] 1700000000
"DesktopFile")" + "=\"" +
                  (home.Data() / "applications/wine-extension-fkb.desktop").string() + "\"\n");
        // Wine's drive of the host's root, through which it records the menu files.
        if (!fs::exists(b.Dir() / "dosdevices/z:", ec_)) {
            fs::create_directory_symlink("/", b.Dir() / "dosdevices/z:");
        }
        auto machine = b.Load();
        EXPECT_TRUE(machine) << b.LastError();
        return machine;
    }

    struct Findings : ProblemSink {
        void ProblemFound(std::unique_ptr<Problem> problem) override { found.push_back(*problem); }
        std::vector<Problem> found;
    };
    Findings Scan(Machine& machine) {
        Findings findings;
        std::atomic<int> flag{1};
        ScanStatus status;
        ScanContext context(machine, flag, findings, status);
        ScanMenuEntriesIn(context, home.Folders(), {a.Dir(), b.Dir()});
        return findings;
    }

    // The findings' files relative to the home.
    std::set<std::string> Files(const Findings& run) {
        std::set<std::string> files;
        for (const Problem& p : run.found) {
            EXPECT_EQ(p.sectionId, kSectionMenuEntries);
            files.insert(fs::path(p.ValueData()).lexically_relative(home.home.Dir()).string());
        }
        return files;
    }

    MenuHome home;
    TempPrefix a, b;
    std::error_code ec_;
};

}  // namespace hivewise::testing
