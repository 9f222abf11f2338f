#pragma once

#include <filesystem>
#include <string>

#include "platform/machine/machine.h"

// The folders the program assembles and unpacks files in (a backup's work folder, the
// folder an archive is unpacked into). What they hold is deleted before use, so they must
// be the program's own: real folders inside the prefix, never a link to somewhere else.
namespace hivewise {

// Makes `folder` (a Windows path) a real, empty folder inside the prefix: missing parents
// are created, a link in its place is removed as a link (what it points to is untouched)
// and a real folder made instead, and its contents are deleted (sub-folders kept, emptied,
// with `keepSubfolders`). False, with nothing written, when a parent leads out of the
// prefix or something other than a folder or a link holds the name.
bool PrepareScratchFolder(Machine& machine, const std::string& folder, bool keepSubfolders = false);

// Empties `folder` as above when it is a real folder inside the prefix; false, touching
// nothing, when it is not.
bool ClearScratchFolder(Machine& machine, const std::string& folder, bool keepSubfolders);

}  // namespace hivewise
