#include "scan/scanners/file_list_scanners.h"
#include "scan/scanners/file_list_walk.h"

#include "platform/machine/wine_fonts.h"

namespace hivewise {
namespace {

constexpr int kSectionFonts = 5;
constexpr std::string_view kFontsKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
constexpr size_t kFileCapacity = 260;

}  // namespace

void ScanFonts(ScanContext& context) {
    using namespace file_list;
    const std::string location = std::string(kLongMachineRoot) + "\\" + std::string(kFontsKey);
    const std::string fontsFolder = context.Files().WindowsDirectory() + "\\Fonts\\";
    // Wine registers the fonts it ships by bare name and loads them from its own folder.
    const WineFonts wineFonts = WineFonts::ForMachine(context.GetMachine());
    WalkKey(context, kFontsKey, Items::Values,
            [&](RegHandle key, uint32_t index, const std::string& name) {
                std::string file;
                // Data that cannot be read names no file to judge.
                if (!ReadTextAt(context.Registry(), key, index, kFileCapacity, &file))
                    return After::Step;
                // A full path, or a name found relative to the current folder, is there as written.
                if (!context.Files().PathFileExists(file) && !wineFonts.Ships(file)) {
                    std::string inFontsFolder = fontsFolder + file;
                    if (!FileReferenceExists(context.Refs(), inFontsFolder)) {
                        ReportMissingFile(context, kSectionFonts, inFontsFolder, location, name,
                                          inFontsFolder);
                    }
                }
                context.SetStatusLine(location, file);
                context.PumpMessages();
                return After::Step;
            });
}

}  // namespace hivewise
