#include "platform/machine/wine_own_entries.h"

#include <string>

#include "platform/files/wildcard.h"
#include "platform/machine/machine.h"
#include "platform/machine/text.h"
#include "platform/registry/registry_store.h"

namespace hivewise {
namespace {

struct OwnEntry {
    std::string_view key;        // wildcards: '*' any run of characters
    std::string_view valueName;  // "*": any value
    std::string_view data;
};

// The 16-bit modules Wine registers class servers of; a Wine without its 16-bit side
// has none of them, and a Wine with it loads them from its own folder.
constexpr std::string_view kSixteenBitModules[] = {
    "avifile.dll",  "compobj.dll",  "ole2.dll",    "ole2disp.dll", "ole2nls.dll",
    "ole2prox.dll", "ole2conv.dll", "storage.dll", "typelib.dll",  "stdole.tlb",
};

constexpr OwnEntry kOwnEntries[] = {
    {"hklm\\software\\microsoft\\directmusic", "gmfilepath", "*\\system32\\drivers\\gm.dls"},
    // A list of page files, each a path followed by its two sizes; Wine keeps none.
    {"hklm\\system\\*controlset*\\control\\session manager\\memory management", "pagingfiles",
     "?:\\pagefile.sys*"},
    {"hklm\\system\\*controlset*\\services\\fontcache3.0.0.0", "*",
     "*\\microsoft.net\\framework\\v3.0\\wpf\\presentationfontcache.exe"},
    {"hklm\\system\\*controlset*\\services\\lanmanserver\\parameters", "servicedll",
     "*\\system32\\srvsvc.dll"},
};

bool Matches(std::string_view pattern, std::string_view text) {
    return WildcardMatch(pattern, text);
}

}  // namespace

WineOwnEntries WineOwnEntries::ForMachine(Machine& machine) {
    return WineOwnEntries(machine.Registry().Find(machine.LocalMachine(), u"Software\\Wine") !=
                          nullptr);
}

bool WineOwnEntries::Writes(std::string_view key, std::string_view valueName,
                            std::string_view data) const {
    if (!madeByWine_) return false;
    if (valueName.empty() && (Matches("hklm\\software\\classes\\clsid\\*\\inprocserver", key) ||
                              Matches("hkcr\\clsid\\*\\inprocserver", key))) {
        for (std::string_view module : kSixteenBitModules) {
            if (Matches(module, data)) return true;
        }
    }
    for (const OwnEntry& entry : kOwnEntries) {
        if (Matches(entry.key, key) && Matches(entry.valueName, valueName) &&
            Matches(entry.data, data)) {
            return true;
        }
    }
    return false;
}

bool IsShellFolderDefinition(std::string_view key) {
    // "*\<key>": the key's path ends with that of one of the two keys.
    auto endsWith = [key](std::string_view tail) {
        return key.size() >= tail.size() &&
               AnsiEqualsNoCase(key.substr(key.size() - tail.size()), tail);
    };
    return endsWith(
               "\\software\\microsoft\\windows\\currentversion\\explorer\\user shell folders") ||
           endsWith("\\software\\microsoft\\windows\\currentversion\\explorer\\shell folders");
}

}  // namespace hivewise
