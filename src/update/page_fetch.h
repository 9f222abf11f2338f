#pragma once

#include <string>
#include <string_view>

// Reading a small web page, as the update check needs it.
namespace hivewise {

// The agent name the version page is asked for with.
constexpr std::string_view kUpdateAgentName = "Microsoft Internet Explorer";
// A page that does not arrive within this time, or is larger, counts as not fetched:
// the window waiting on it must never hang.
constexpr long kFetchTimeoutSeconds = 15;
constexpr size_t kMaxPageBytes = 64 * 1024;

// Fetches `address` (http or https; a certificate that does not check out fails) into
// `text`, which is emptied first. With `extractBody` the text is lower-cased, cut to
// what stands between the first "<body>" and the first "</body>" after it, and trimmed.
// 1 on success, 0 on failure (no answer, an error status, a page too large).
int FetchPage(const std::string& address, std::string& text, int extractBody);

// The body extraction alone.
std::string ExtractBody(std::string_view page);

}  // namespace hivewise
