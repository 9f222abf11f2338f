#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_context.h"
#include "scan/problem.h"

// `hivewise-cli scan`: the window's scan without the window.
namespace hivewise::cli {

// `args` are the words after "scan": [--sections ID,ID,...] [--json].
int RunScan(CliContext& ctx, const std::vector<std::string>& args);

// Text for a JSON string: ANSI (Windows-1252) turned into UTF-8, with quotes,
// backslashes and control characters escaped.
std::string JsonString(std::string_view ansi);

}  // namespace hivewise::cli
