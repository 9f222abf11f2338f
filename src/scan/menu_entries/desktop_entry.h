#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A ".desktop" file as Wine's menu builder writes it: its name, icon and command, and
// what that command launches: which prefix, and there a shortcut, a program or the ProgID
// of a file type. The files lie in the user's folders where anything may have put them,
// so they are read as outside input.
namespace hivewise {

// Menu builder files are a few hundred bytes; icons a few KiB.
constexpr uint64_t kMenuFileLimit = 256 * 1024;

struct DesktopEntry {
    std::string name;  // Name= of [Desktop Entry]
    std::string icon;  // Icon=
    std::string exec;  // Exec=, as written
    // Whether Wine made it: its command runs a wine program, with WINEPREFIX set or not.
    bool wineMade = false;
    std::filesystem::path prefix;    // WINEPREFIX, else ~/.wine (empty when not wine-made)
    std::string windowsPath;         // the shortcut or program it starts (C:\...)
    std::filesystem::path unixLink;  // "start /Unix <path>": the shortcut's host path
    std::string progId;              // "start /ProgIDOpen <ProgID>": a file type
};

// The arguments of an Exec line: string escapes of the desktop file undone, then split
// at blanks, with double quotes and backslashes as the specification quotes them.
std::vector<std::string> SplitExecLine(std::string_view exec);

// Parses the [Desktop Entry] group of a desktop file's text. `home` is where ~/.wine
// lies for a command without WINEPREFIX.
DesktopEntry ParseDesktopEntry(std::string_view text, const std::filesystem::path& home);

// Reads a regular file (never through a symbolic link) of at most `limit` bytes.
bool ReadSmallFile(const std::filesystem::path& path, std::string* bytes,
                   uint64_t limit = kMenuFileLimit);

// The <Filename> and <Directory> names a menu file includes.
struct MenuFileRefs {
    std::vector<std::string> filenames;
    std::vector<std::string> directories;
};
MenuFileRefs ParseMenuFile(std::string_view text);

}  // namespace hivewise
