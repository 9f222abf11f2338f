#include "platform/machine/wine_fonts.h"

#include <cstdlib>

#include "platform/machine/machine.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

void AddUnique(std::vector<fs::path>& list, const fs::path& path) {
    for (const auto& known : list) {
        if (known == path) return;
    }
    list.push_back(path);
}

}  // namespace

std::vector<fs::path> WineFontFolders(std::string_view searchPath) {
    std::vector<fs::path> folders;
    std::error_code ec;
    // Beside each wine program (WineHQ's, self-built, CrossOver): <bin>/../share/wine/fonts,
    // with the program's links resolved (Debian's /usr/bin/wine is one).
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string_view::npos) end = searchPath.size();
        fs::path dir(searchPath.substr(start, end - start));
        start = end + 1;
        if (dir.empty() || !dir.is_absolute()) continue;
        for (const char* program : {"wine", "wine64"}) {
            fs::path found = dir / program;
            if (!fs::exists(found, ec)) continue;
            fs::path real = fs::canonical(found, ec);
            for (const fs::path& bin :
                 {found.parent_path(), ec ? fs::path() : real.parent_path()}) {
                if (!bin.empty()) {
                    AddUnique(folders, (bin.parent_path() / "share/wine/fonts").lexically_normal());
                }
            }
        }
    }
    for (const char* fixed :
         {"/usr/share/wine/fonts", "/usr/local/share/wine/fonts",
          "/opt/wine-stable/share/wine/fonts", "/opt/wine-devel/share/wine/fonts",
          "/opt/wine-staging/share/wine/fonts"}) {
        AddUnique(folders, fixed);
    }
    std::vector<fs::path> present;
    for (const auto& folder : folders) {
        if (fs::is_directory(folder, ec)) present.push_back(folder);
    }
    return present;
}

WineFonts::WineFonts(const std::vector<fs::path>& folders) {
    for (const auto& folder : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            names_.insert(Lower(it->path().filename().string()));
        }
    }
}

WineFonts WineFonts::ForMachine(Machine& machine) {
    RegKey* wine = machine.Registry().Find(machine.LocalMachine(), u"Software\\Wine");
    if (!wine) return {};
    const char* path = std::getenv("PATH");
    WineFonts fonts(WineFontFolders(path ? path : ""));
    fonts.madeByWine_ = true;
    return fonts;
}

bool WineFonts::Ships(std::string_view fileName) const {
    if (fileName.empty() || fileName.find_first_of("\\/:") != std::string_view::npos) {
        return false;
    }
    std::string name = Lower(fileName);
    if (names_.count(name) != 0) return true;
    // The bitmap fonts Wine registers by bare name in every prefix it makes, whether
    // its font package is installed or not ("MS Serif" has no file in any Wine).
    if (!madeByWine_) return false;
    for (std::string_view own : {"coure.fon", "serife.fon", "sserife.fon", "smalle.fon"}) {
        if (name == own) return true;
    }
    return false;
}

}  // namespace hivewise
