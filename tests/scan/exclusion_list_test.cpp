#include "scan/exclusion_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/machine/text.h"

namespace hivewise {
namespace {

// The table's plain meaning: some entry occurs in the lower-cased text.
bool HoldsAnEntry(const std::string& text) {
    const std::string lower = AnsiLower(text);
    for (std::string_view entry : kExclusionList) {
        if (lower.find(AnsiLower(entry)) != std::string::npos) return true;
    }
    return false;
}

// Every entry, in any case and place, also right after a false start of itself, and
// every text that only nearly holds one, is judged as the plain reading judges it.
TEST(ExclusionList, AgreesWithASearchForEachEntry) {
    std::vector<std::string> texts = {"", "c:\\recyclerecycled\\a", "C:\\WINDOWS\\SVCHOSSVCHOST",
                                      "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Path\\C:\\app.exe"};
    for (std::string_view entry : kExclusionList) {
        const std::string lower = AnsiLower(entry);
        std::string upper = lower;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string cut = lower.substr(0, lower.size() - 1);
        texts.push_back(lower);
        texts.push_back("HKEY_LOCAL_MACHINE\\Software\\" + upper + "\\x");
        texts.push_back(cut + lower);
        texts.push_back(cut + "\x01");
        texts.push_back(lower.substr(1));
    }
    for (const std::string& text : texts)
        EXPECT_EQ(IsExcluded(text, {}), HoldsAnEntry(text)) << text;
    EXPECT_TRUE(IsExcluded("c:\\recyclerecycled\\a", {}));
}

}  // namespace
}  // namespace hivewise
