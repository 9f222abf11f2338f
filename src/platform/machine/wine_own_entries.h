#pragma once

#include <string_view>

// Registry entries Wine writes into every prefix it makes and writes again at each update
// (`wineboot -u`), although the files they name do not exist there: 16-bit class servers a
// 64-bit Wine has no side for, services and settings of Windows components Wine does not
// ship. They are not stale entries a user can have: a removal is undone at the next update.
namespace hivewise {

class Machine;

class WineOwnEntries {
  public:
    // Knows Wine's entries only when the machine was made by Wine (its registry has
    // Wine's own key); otherwise nothing is Wine's.
    static WineOwnEntries ForMachine(Machine& machine);
    WineOwnEntries() = default;
    explicit WineOwnEntries(bool madeByWine) : madeByWine_(madeByWine) {}

    // `key`: the key's path from its root, the root written "hklm", "hkcu" or "hku\<name>";
    // `valueName` empty for the default value; `data` the path the entry names. Compared
    // without regard to case.
    bool Writes(std::string_view key, std::string_view valueName, std::string_view data) const;

  private:
    bool madeByWine_ = false;
};

// A shell folder's definition (Explorer's "Shell Folders" and "User Shell Folders" of any
// user): Wine recreates a missing shell folder from it, and does not put it back itself.
bool IsShellFolderDefinition(std::string_view key);

}  // namespace hivewise
