// The published version page: its body cut out and read as a version number, which is
// compared with the installed one as the update check does. No network is involved.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "update/page_fetch.h"
#include "update/update_check.h"

using namespace hivewise;

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view page(reinterpret_cast<const char*>(data), size);
    std::string body = ExtractBody(page);
    // The body is a trimmed, lower-cased piece of the page.
    if (body.size() > page.size()) __builtin_trap();
    if (!body.empty() && (IsWhiteSpace(body.front()) || IsWhiteSpace(body.back())))
        __builtin_trap();
    for (char c : body) {
        if (c >= 'A' && c <= 'Z') __builtin_trap();
    }
    double published = VersionNumber(body);
    if (!std::isfinite(published)) __builtin_trap();
    // The installed version may be any text the registry holds; the page stands in for it.
    double installed = VersionNumber(page);
    if (!std::isfinite(installed)) __builtin_trap();
    volatile bool newer = installed < published;
    (void)newer;
    return 0;
}
