#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "platform/machine/machine.h"

namespace hivewise::testing {

// A temporary folder outside any prefix: what a prefix's links may lead to (the home
// folder, another prefix). Removed again when the test ends.
class TempFolder {
  public:
    explicit TempFolder(std::string_view stem = "hivewise-outside") {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
        dir_ = ::mkdtemp(tmpl.data());
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    void Write(const std::filesystem::path& relative, std::string_view content) {
        std::filesystem::path path = dir_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string Read(const std::filesystem::path& relative) const {
        std::ifstream in(dir_ / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The folder as a Windows path through a drive mapped to the host's root ("Z:\...").
    std::string OnDriveZ(const std::filesystem::path& relative = {}) const {
        std::string text = "Z:" + (relative.empty() ? dir_ : dir_ / relative).string();
        for (char& c : text)
            if (c == '/') c = '\\';
        return text;
    }

  protected:
    std::filesystem::path dir_;
};

// A small Wine prefix in a temporary folder: registry files from text, a drive_c tree
// and the dosdevices links. Removed again when the test ends.
class TempPrefix : public TempFolder {
  public:
    TempPrefix() : TempFolder("hivewise-test") {
        std::filesystem::create_directories(dir_ / "drive_c" / "windows" / "system32");
        std::filesystem::create_directories(dir_ / "dosdevices");
        std::filesystem::create_directory_symlink("../drive_c", dir_ / "dosdevices" / "c:");
    }

    // Writes `sections` (the text after the header) as system.reg.
    void SystemReg(std::string_view sections, std::string_view arch = "win32") {
        Write("system.reg", Header("REGISTRY\\\\Machine", arch) + std::string(sections));
    }
    void UserReg(std::string_view sections, std::string_view arch = "win32") {
        Write("user.reg",
              Header("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000", arch) + std::string(sections));
    }
    // A file under drive_c, with its folders.
    void File(const std::filesystem::path& relative, std::string_view content = "") {
        Write(std::filesystem::path("drive_c") / relative, content);
    }

    std::unique_ptr<Machine> Load(MachineOptions options = {.lockPrefix = false}) {
        auto result = Machine::Load(dir_, options);
        lastError_ = result.error;
        return std::move(result.machine);
    }
    const std::string& LastError() const { return lastError_; }

    static std::string Header(std::string_view relativeTo, std::string_view arch) {
        return "WINE REGISTRY Version 2\n;; All keys relative to " + std::string(relativeTo) +
               "\n\n#arch=" + std::string(arch) + "\n";
    }

  private:
    std::string lastError_;
};

// Path of the real data nobody here wrote, or empty when it is not beside the project.
inline std::filesystem::path TestDataDir() {
    std::filesystem::path dir = HIVEWISE_TESTDATA_DIR;
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path();
}

// A link section's value line pointing at `target` (an object path), as Wine writes it.
inline std::string LinkTo(std::u16string_view target) {
    std::string line = "#link\n\"SymbolicLinkValue\"=hex(6):";
    char buf[8];
    for (size_t i = 0; i < target.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x,%02x", target[i] & 0xFF, target[i] >> 8);
        if (i) line += ',';
        line += buf;
    }
    return line + "\n";
}

}  // namespace hivewise::testing
