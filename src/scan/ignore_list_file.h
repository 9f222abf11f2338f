#pragma once

#include <string>
#include <string_view>

#include "platform/machine/machine.h"
#include "scan/exclusion_list.h"

// The user's ignore list: the file Iglist.lst in the program folder, which the scan
// reads and the "Ignore List" window edits.
namespace hivewise {

constexpr std::string_view kIgnoreListFileName = "Iglist.lst";

// The file's Windows path: the program folder, a backslash and "Iglist.lst".
std::string IgnoreListPath(const Machine& machine);

// The file's text to entries: each line stripped of blanks, tabs, CR and LF at both
// ends, empty lines skipped. Lines may end with LF, CR LF or CR CR LF.
IgnoreList ParseIgnoreList(std::string_view content);
// Entries to the file's text: every entry followed by CR CR LF, as a text-mode stream
// writes CR LF. Entries that hold a line break or a zero byte cannot be stored and are
// left out.
std::string FormatIgnoreList(const IgnoreList& list);

// Empties `list` and reads Iglist.lst into it; a missing or unreadable file leaves the
// list empty.
void LoadIgnoreList(Machine& machine, IgnoreList* list);
// Replaces Iglist.lst by the list (all or nothing); false when it cannot be written.
bool SaveIgnoreList(Machine& machine, const IgnoreList& list);

// A location with short root names ("HKLM\...", "HKCU\...", "HKCLASS\...") turned back
// to the long names; other texts are returned as they are.
std::string LongRootLocation(std::string_view location);

}  // namespace hivewise
