#pragma once

#include <cstdint>
#include <string>

// Writes shortcut (.lnk) files in the shell link binary format, so that a machine can
// be given real shortcuts without the shell that normally makes them.
namespace hivewise {

// GetDriveTypeA's answer for a fixed disk.
constexpr uint32_t kShellLinkDriveFixed = 3;

// What a shortcut holds. Texts are ANSI (Windows-1252); empty optional texts are left out.
struct ShellLinkFields {
    std::string targetPath;        // full Windows path of the target, "C:\Dir\app.exe"
    std::string description;       // the shortcut's comment
    std::string relativePath;      // the target relative to the shortcut file
    std::string workingDirectory;  // "C:\Dir"
    std::string arguments;         // command-line arguments
    std::string iconLocation;      // file holding the icon
    int32_t iconIndex = 0;
    uint32_t fileAttributes = 0x20;  // the target's attributes (archive)
    uint32_t fileSize = 0;           // the target's size, low 32 bits
    uint64_t fileTime = 0;           // creation, access and write time (100 ns since 1601)
    uint32_t showCommand = 1;        // SW_SHOWNORMAL
    uint32_t driveType = kShellLinkDriveFixed;
    uint32_t driveSerial = 0x4C1E5A17;
    // The optional texts in UTF-16 (as the shell writes them) rather than ANSI.
    bool unicodeStrings = true;
};

// The bytes of the shortcut file. Empty when the shortcut cannot be written: a target that
// is no drive path ("X:\...") or is longer than MAX_PATH, a text holding a zero byte,
// or a text too long for the format's 16-bit character count.
std::string BuildShellLink(const ShellLinkFields& shortcut);

}  // namespace hivewise
