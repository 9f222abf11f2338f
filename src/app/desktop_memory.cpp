#include "app/desktop_memory.h"

#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/files/atomic_file.h"

namespace hivewise {
namespace {

namespace fs = std::filesystem;

// The file holds a handful of short lines; anything larger was not written by us.
constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;

std::string Lookup(const std::map<std::string, std::string>& env, const char* name) {
    auto it = env.find(name);
    return it == env.end() ? std::string{} : it->second;
}

std::optional<int> ParseInt(const std::string& text) {
    if (text.empty() || text.size() > 7) return std::nullopt;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return std::nullopt;
    int value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return text[0] == '-' ? -value : value;
}

}  // namespace

DesktopMemory::DesktopMemory(fs::path file) : file_(std::move(file)) {
    std::error_code ec;
    if (file_.empty() || !fs::is_regular_file(file_, ec) ||
        fs::file_size(file_, ec) > kMaxFileBytes)
        return;
    std::ifstream in(file_, std::ios::binary);
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(in, line);) {
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    if (values["machine-kind"] == "sample") {
        machine_ = MachineRequest{{}, true, false};
    } else if (values["machine-kind"] == "prefix" && !values["machine"].empty()) {
        fs::path folder = values["machine"];
        if (folder.is_absolute()) machine_ = MachineRequest{folder, false, false};
    }
    auto x = ParseInt(values["x"]);
    auto y = ParseInt(values["y"]);
    auto width = ParseInt(values["width"]);
    auto height = ParseInt(values["height"]);
    if (x && y && width && height && *width > 0 && *height > 0) {
        place_ = WindowPlace{*x, *y, *width, *height, values["maximised"] == "1"};
    }
}

fs::path DesktopMemory::DefaultFile(const std::map<std::string, std::string>& env) {
    fs::path base = Lookup(env, "XDG_CONFIG_HOME");
    // XDG's rule: a relative value is to be ignored.
    if (base.empty() || !base.is_absolute()) {
        std::string home = Lookup(env, "HOME");
        if (home.empty()) return {};
        base = fs::path(home) / ".config";
    }
    return base / "hivewise" / "desktop.conf";
}

void DesktopMemory::SetLastMachine(const MachineRequest& request) {
    // Read only is how Wine left it that time, not a choice to remember.
    machine_ =
        MachineRequest{request.isSample ? fs::path{} : request.folder, request.isSample, false};
}

void DesktopMemory::SetPlace(const WindowPlace& place) {
    place_ = place;
}

bool DesktopMemory::Save() const {
    if (file_.empty()) return false;
    std::ostringstream out;
    if (machine_) {
        if (machine_->isSample) {
            out << "machine-kind=sample\n";
        } else if (machine_->folder.string().find('\n') == std::string::npos) {
            out << "machine-kind=prefix\nmachine=" << machine_->folder.string() << "\n";
        }
    }
    if (place_) {
        out << "x=" << place_->x << "\ny=" << place_->y << "\nwidth=" << place_->width
            << "\nheight=" << place_->height << "\nmaximised=" << (place_->maximised ? 1 : 0)
            << "\n";
    }
    std::error_code ec;
    fs::create_directories(file_.parent_path(), ec);
    std::string error;
    return WriteFileAtomically(file_, out.str(), &error, 0600);
}

std::optional<MachineRequest> RememberedStartMachine(
    const DesktopMemory& memory, const std::map<std::string, std::string>& env) {
    // WINEPREFIX set for this start is a choice made now, and wins.
    if (!Lookup(env, "WINEPREFIX").empty()) return std::nullopt;
    std::optional<MachineRequest> last = memory.LastMachine();
    if (!last) return std::nullopt;
    if (last->isSample) return last;
    std::error_code ec;
    if (!fs::is_regular_file(last->folder / "system.reg", ec)) return std::nullopt;
    return last;
}

}  // namespace hivewise
