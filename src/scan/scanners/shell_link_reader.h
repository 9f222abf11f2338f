#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Reads shortcut (.lnk) files without the shell: what a shortcut says of its target.
namespace hivewise {

// The parts of a shortcut that name its target, in ANSI. Empty when the shortcut
// does not hold them.
struct ShellLinkInfo {
    std::string localPath;            // the target on a local volume
    std::string environmentLocation;  // a path with environment variables, unexpanded
    std::string itemListPath;         // the path the target's item list stands for
    std::string description;
};

// Shortcut files are small; anything larger than this is not read at all.
constexpr size_t kMaxShellLinkFileSize = 1 << 20;

// Parses the bytes of a shortcut file. False when they are no readable shortcut.
bool ParseShellLink(std::string_view bytes, ShellLinkInfo* info);

// Reads and parses a host file. False when it is not a regular file, is larger than
// kMaxShellLinkFileSize, cannot be read, or is no readable shortcut.
bool ReadShellLinkFile(const std::filesystem::path& hostPath, ShellLinkInfo* info);

}  // namespace hivewise
