#pragma once

#include <filesystem>
#include <string_view>

namespace hivewise {

// Removes the temporary files a save of the prefix's registry files leaves when it is
// killed between writing and renaming (".system.reg.XXXXXX" and the like). Call it only
// while holding the prefix lock: then no other Hivewise is writing one of them. Only
// regular files of exactly that pattern go; returns how many.
int RemoveLeftoverSaveFiles(const std::filesystem::path& prefix);

// True for a name of that pattern.
bool IsLeftoverSaveFileName(std::string_view name);

}  // namespace hivewise
