#pragma once

#include <string>
#include <string_view>

#include "scan/problem.h"

// A finding as the user reads it: its text, its details row and its file.
namespace hivewise {

// The description with every "%s" filled with the value data. Data that itself holds
// "%s" is not filled again.
std::string FindingText(const Problem& problem);

// `location` with a long root name at its start rewritten to the short form of the
// string table ("HKCLASS", "HKCU", "HKLM"). Only the root is rewritten, so that
// LongRootLocation restores exactly what the scanner found.
std::string ShortRootLocation(std::string_view location);

// The row's rich text by section: registry findings (1 to 13) show key, value name, data
// and finding text; shortcuts (14) the shortcut, its target and the finding text; any
// other section an empty text. Fields are shown as they are: '<', '>' and '&' in them
// are escaped so that they are not taken for mark-up.
std::string DetailsRowText(const Problem& problem);

// A finding's value name as the user reads it: "(Default)" for the unnamed value.
std::string ShownValueName(const Problem& problem);

// What a finding found missing: the text its description's "%s" stands for.
inline std::string_view MissingTarget(const Problem& problem) {
    return problem.ValueData();
}

// The clipboard's text for a row's rich text: every "<br>" becomes CR LF, every tag is
// dropped, and the escapes of DetailsRowText are undone.
std::string ClipboardText(std::string_view rowText);

// A finding as the details row shows it, as plain lines ending in LF, for the command
// line: short root names, no mark-up. The record is not changed. Empty for sections
// without a details row.
std::string PlainTextRow(const Problem& problem);

// The file a finding is about (a shortcut, a menu entry), for "Open Containing Folder";
// empty for registry findings.
std::string FindingFile(const Problem& problem);

}  // namespace hivewise
