#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/machine.h"

// The registry editor's own file format: export of a key tree to a ".reg" file and its
// silent import, so that backups are files any registry editor reads and writes.
namespace hivewise {

enum class RegFileFormat {
    Unicode5,  // "Windows Registry Editor Version 5.00", UTF-16LE with BOM
    Regedit4,  // "REGEDIT4", ANSI code page
};

// The format the machine's own editor writes: 5.00 on the NT family, REGEDIT4 on 9x.
RegFileFormat RegFileFormatFor(const Machine& machine);

// A registry path taken apart. Roots are the long names and HKLM, HKCU, HKCR, HKU, HKCC.
struct RegPath {
    RegKey* base = nullptr;  // the key the root stands for
    std::u16string lookup;   // the rest below `base` ('\'-joined, no empty components)
    std::u16string display;  // long root name and rest, as the editor writes the path
};
// Nothing for an unknown root or an empty component ("A\\B").
std::optional<RegPath> ParseRegPath(Machine& machine, std::u16string_view path);

// The bytes of a file holding the key (ANSI path, long or short root name) with all its
// values and sub-keys in tree order. Nothing when the key does not exist. Sub-keys that
// are links are written as they are stored (their SymbolicLinkValue), not followed.
// REGEDIT4 holds the string types as ANSI: characters outside the code page become '?'.
std::optional<std::string> ExportRegFile(Machine& machine, std::string_view keyPath,
                                         RegFileFormat format);
// Writes the export to a Windows path of the machine (atomically). False when the key
// does not exist or the file cannot be written.
bool ExportRegFileTo(Machine& machine, std::string_view keyPath, const std::string& windowsFile,
                     RegFileFormat format);

struct RegImportResult {
    bool headerValid = false;  // the file starts with one of the editor's headers
    bool allApplied = false;   // valid header and every statement applied
    int linesSkipped = 0;      // statements not applied (a line, or a value and its continuations)
    int firstBadLine = 0;      // 1-based line of the first of them; 0 when none
    bool changed = false;      // the registry was changed
};

// Silent import of a file's bytes into the machine's registry, the way the editor does it:
// a statement that is malformed or cannot apply is skipped, the rest still imports.
// What the machine derives from its registry (drives, environment, version) is read again
// after a change, unless `refreshFacts` is false: a caller importing many files then calls
// Machine::RefreshDerivedFacts once at the end, when any result `changed`.
RegImportResult ImportRegFile(Machine& machine, std::string_view bytes, bool refreshFacts = true);
// The same for a file of the machine (Windows path). An unreadable file imports nothing.
RegImportResult ImportRegFileFrom(Machine& machine, const std::string& windowsFile);

// What a file would touch if imported, read without importing it: the key of every
// section in order (a deletion's without its '-'), and whether any value statement sets a
// registry link (type 6, which makes a new key lead elsewhere). Nothing when the file
// has none of the editor's headers.
struct RegFileOutline {
    std::vector<std::u16string> keys;
    bool setsLinks = false;
};
std::optional<RegFileOutline> OutlineRegFile(std::string_view bytes);

}  // namespace hivewise
