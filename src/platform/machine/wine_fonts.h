#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The fonts Wine ships. Wine registers them in a prefix by bare file name and loads them
// from its own data folder, not from the prefix's Fonts folder.
namespace hivewise {

class Machine;

// Wine's font folders on this computer: Debian's and the usual install places, and
// share/wine/fonts beside every wine program on `searchPath` (a PATH-style list).
std::vector<std::filesystem::path> WineFontFolders(std::string_view searchPath);

// The file names (lower case) in those folders, read once.
class WineFonts {
  public:
    // Empty unless the machine was made by Wine (its registry has Wine's own key).
    static WineFonts ForMachine(Machine& machine);
    explicit WineFonts(const std::vector<std::filesystem::path>& folders);
    WineFonts() = default;

    // True for a bare file name ("coure.fon") that Wine ships; false for any path.
    bool Ships(std::string_view fileName) const;

  private:
    std::set<std::string> names_;
    bool madeByWine_ = false;
};

}  // namespace hivewise
