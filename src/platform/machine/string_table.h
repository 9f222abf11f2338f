#pragma once

#include <string>
#include <string_view>

// The program's string table: texts the scanners, dialogs and the update check load
// by entry number, in the ANSI code page.
namespace hivewise {

// Entry numbers callers load by name.
constexpr int kIdsFileMissing = 105;        // "The file (%s) does not exist ..."
constexpr int kIdsDefaultValueName = 106;   // "(Default)"
constexpr int kIdsInvalidAppId = 107;       // two "%s"
constexpr int kIdsShortcutInvalid = 108;    // "The shortcut is not valid. ..."
constexpr int kIdsDirectoryInvalid = 109;   // "The Directory path is not valid. ..."
constexpr int kIdsShortLocalMachine = 110;  // "HKLM"
constexpr int kIdsShortCurrentUser = 111;   // "HKCU"
constexpr int kIdsShortClassesRoot = 112;   // "HKCR"
constexpr int kIdsBhoExplanation = 114;
constexpr int kIdsStartupExplanation = 115;
constexpr int kIdsUninstallExplanation = 116;
constexpr int kIdsBhoIntro = 118;
constexpr int kIdsStartupIntro = 119;
constexpr int kIdsUninstallIntro = 120;
constexpr int kIdsFullBackupIntro = 121;
constexpr int kIdsFullBackupWelcome = 123;
constexpr int kIdsVersionPageUrl = 128;
constexpr int kIdsUpdateFolderUrl = 129;

// The text of an entry; empty when the table has no such entry.
std::string LoadResourceText(int id);
// The same, without a copy: the table lives as long as the program.
std::string_view ResourceText(int id);

}  // namespace hivewise
