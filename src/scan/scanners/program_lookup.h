#pragma once

#include <string>
#include <string_view>

#include "scan/reference_tests.h"

// How the shell finds the file behind a command line, an icon reference or a sound name:
// the program of a command (for rundll32, the library it loads), the file of a
// "path,index" icon, and a bare name searched as Windows searches it.
namespace hivewise::program_lookup {

// The file an entry names, as judged, and whether it is there.
struct Judged {
    std::string file;
    bool present = true;
};

// The program a command line starts: a quoted path, an unquoted path whose blanks are
// tried up to the longest existing prefix, or a bare name searched for; arguments and
// placeholders such as "%1" are not part of it. For rundll32 the library is judged.
Judged ProgramOfCommand(const ReferenceContext& refs, std::string_view command);

// The file of an icon reference "path,index" (quotes allowed). "%1" (the document's own
// icon) and an empty text name nothing and are present.
Judged IconFile(const ReferenceContext& refs, std::string_view icon);

// Whether one named file is there. Lenient where the answer cannot be known: an empty
// name, one holding an unexpanded variable or a placeholder, a UNC path or address, a
// drive that is not a fixed disk, and a path relative to an unknown folder are present.
// A bare name is searched in App Paths, the system and Windows folders and PATH;
// `extension` (".exe", ".dll", or empty) is added to a name that has none, as the
// loader of such files does.
bool FileFound(const ReferenceContext& refs, const std::string& name, std::string_view extension);

// The environment expanded (left as written when the expansion fails).
std::string Expand(const ReferenceContext& refs, std::string_view text);

// Leading and trailing blanks and tabs removed.
std::string Trim(std::string_view text);

}  // namespace hivewise::program_lookup
