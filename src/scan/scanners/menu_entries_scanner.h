#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/files/xdg_folders.h"
#include "scan/scan_context.h"

// Section 15: what Wine's menu builder left in the user's desktop folders for this
// machine or for prefixes that are gone: menu entries, menu files and folders, icons,
// file types, and the shortcut files of the desktop folder every prefix shares.
namespace hivewise {

constexpr int kSectionMenuEntries = 15;

// Where Wine records the menu files of a prefix and the file types it made, under
// HKEY_CURRENT_USER; each is handled with the files it names.
constexpr std::string_view kMenuFilesKey = "Software\\Wine\\MenuFiles";
constexpr std::string_view kFileOpenAssociationsKey = "Software\\Wine\\FileOpenAssociations";

// Whether a key path (long or short root name) is one of those records or below them.
bool IsMenuBuilderRecordKey(std::string_view keyPath);

// The scan of `folders`, judging the entries of other prefixes against `prefixes`
// (every prefix the user has, this machine among them or not).
void ScanMenuEntriesIn(ScanContext& context, const XdgFolders& folders,
                       const std::vector<std::filesystem::path>& prefixes);

// The section's scanner as the driver calls it: the user's folders and machines.
void ScanMenuEntries(ScanContext& context);

// Whether the Windows path `windowsPath` ("C:\...") names something in the prefix at
// `prefix`, through its dosdevices, names compared without regard to case.
bool WindowsPathExistsIn(const std::filesystem::path& prefix, std::string_view windowsPath);

}  // namespace hivewise
