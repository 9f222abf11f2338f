#include "scan/scanners/services_scanner.h"

#include <string_view>

#include "platform/machine/text.h"
#include "scan/scanners/cased_text.h"
#include "scan/scanners/file_list_walk.h"

namespace hivewise {
namespace {

// What tells the two scanners apart.
struct DriverList {
    int sectionId;
    std::string_view enumeratedKey;  // under HKEY_LOCAL_MACHINE
    std::string_view valueName;
    bool relativeToSystemDirectory;  // otherwise relative to the Windows directory
};

constexpr DriverList kServices = {9, "SYSTEM\\CurrentControlSet\\Services", "ImagePath", false};
constexpr DriverList kStaticVxds = {10, "SYSTEM\\CurrentControlSet\\Services\\VXD", "StaticVXD",
                                    true};

constexpr std::string_view kSystemRoot = "systemroot";

// "systemroot" standing as a whole part of the path (\SystemRoot\System32\...), replaced by
// the Windows directory. Inside a longer name it is left alone: replacing it there would
// turn the path of an existing file into a missing one.
void ReplaceSystemRootFolder(CasedText& text, const std::string& windowsDirectory) {
    size_t at = 0;
    while ((at = text.Lower().find(kSystemRoot, at)) != std::string::npos) {
        size_t end = at + kSystemRoot.size();
        bool starts = at == 0 || text.Lower()[at - 1] == '\\';
        bool ends = end == text.size() || text.Lower()[end] == '\\';
        if (starts && ends) {
            text.Replace(at, kSystemRoot.size(), windowsDirectory);
            at += windowsDirectory.size();
        } else {
            at = end;
        }
    }
}

void ScanDriverList(ScanContext& context, const DriverList& list) {
    using namespace file_list;
    RegistryAccess& registry = context.Registry();
    FileSystemAccess& files = context.Files();
    const std::string readPrefix = std::string(list.enumeratedKey) + "\\";
    const std::string locationPrefix = std::string(kLongMachineRoot) + "\\" + readPrefix;
    std::string windows;
    std::string base;
    WalkKey(context, list.enumeratedKey, Items::SubKeys,
            [&](RegHandle, uint32_t, const std::string& name) {
                std::string data =
                    registry.ReadStringValue(kHkeyLocalMachine, readPrefix + name, list.valueName);
                if (data.empty()) return After::Step;
                if (windows.empty()) {
                    windows = files.WindowsDirectory();
                    base = list.relativeToSystemDirectory ? files.SystemDirectory() : windows;
                }
                std::optional<std::string> path = NormaliseImagePath(data, windows, base);
                if (!path) return After::NoStep;
                std::string location = locationPrefix + name;
                if (!FileReferenceExists(context.Refs(), *path)) {
                    ReportMissingFile(context, list.sectionId, *path, location,
                                      std::string(list.valueName), *path);
                }
                context.SetStatusLine(std::move(location));
                context.PumpMessages();
                return After::Step;
            });
}

}  // namespace

std::optional<std::string> NormaliseImagePath(const std::string& data,
                                              const std::string& windowsDirectory,
                                              const std::string& baseDirectory) {
    CasedText text(data);
    text.ReplaceAllWith("%systemroot%", [&] { return windowsDirectory; });
    ReplaceSystemRootFolder(text, windowsDirectory);
    // From the drive letter on: \??\C:\... and the \ left of \SystemRoot\... go.
    size_t colon = text.Lower().find(':');
    if (colon != std::string::npos) {
        if (colon > 0) text.Erase(0, colon - 1);
    } else if (!text.empty() && text.Lower().front() == '\\') {
        text.Insert(0, baseDirectory);
    } else {
        text.Insert(0, baseDirectory + "\\");
    }
    // A name without an extension is a program only when arguments follow it.
    if (text.Lower().find('.') == std::string::npos) {
        size_t blank = text.Lower().find(' ');
        if (blank == std::string::npos) return std::nullopt;
        text.Resize(blank);
        text.Append(".exe");
    }
    return text.Text();
}

void ScanSystemServices(ScanContext& context) {
    ScanDriverList(context, kServices);
}

void ScanVxdSection(ScanContext& context) {
    ScanDriverList(context, kStaticVxds);
}

}  // namespace hivewise
