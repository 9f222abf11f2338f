#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/files/atomic_file.h"

// A prefix folder the fuzz targets rewrite for every input: in memory when /dev/shm is
// there, so that a run costs no disk writes.
namespace hivewise::fuzz {

inline const std::filesystem::path& ScratchPrefix() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        // Folders of runs that were ended from outside (as fork mode ends its jobs) are
        // named after their process; those of processes gone are removed here.
        std::error_code ec;
        for (std::filesystem::directory_iterator it(base, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.rfind("hivewise-fuzz-", 0) != 0) continue;
            std::string pid = name.substr(14, name.find('-', 14) - 14);
            if (!pid.empty() && !std::filesystem::exists("/proc/" + pid)) {
                std::error_code removeError;
                std::filesystem::remove_all(it->path(), removeError);
            }
        }
        std::string tmpl =
            (base / ("hivewise-fuzz-" + std::to_string(::getpid()) + "-XXXXXX")).string();
        std::filesystem::path made = ::mkdtemp(tmpl.data());
        std::filesystem::create_directories(made / "drive_c" / "windows" / "system32");
        std::filesystem::create_directories(made / "dosdevices");
        std::filesystem::create_directory_symlink("../drive_c", made / "dosdevices" / "c:");
        // Removed when the fuzzer ends normally; a crash leaves it for the reproducer.
        static struct Remover {
            std::filesystem::path path;
            ~Remover() {
                std::error_code ec;
                std::filesystem::remove_all(path, ec);
            }
        } remover{made};
        return made;
    }();
    return dir;
}

inline void PutFile(const std::string& name, std::string_view content) {
    std::filesystem::path path = ScratchPrefix() / name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

inline void RemoveFile(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove(ScratchPrefix() / name, ec);
}

constexpr std::string_view kSystemReg =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
    "[Software\\\\Classes\\\\.txt] 1700000000\n@=\"txtfile\"\n\n"
    "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager\\\\Environment] 1700000000\n"
    "\"PATH\"=str(2):\"%SystemRoot%\\\\system32\"\n";
constexpr std::string_view kUserReg =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
    "#arch=win32\n\n[Software\\\\Wine] 1700000000\n\"Version\"=\"win7\"\n";

}  // namespace hivewise::fuzz
