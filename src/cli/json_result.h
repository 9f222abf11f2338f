#pragma once

#include <functional>
#include <iosfwd>
#include <string_view>

// The one object a command prints on stdout with --json. A command that fails (any status
// but done and done in part) prints, instead of whatever it had begun, the error object
//   {"error": {"status": N, "message": "..."}}
// whose message is what it said on stderr (without a usage line), which still says it.
namespace hivewise::cli {

// Whether the command line asks for JSON: a "--json" before the words of `reg`, which
// has its own syntax.
bool JsonAsked(int argc, const char* const* argv);

// Runs `command` with its stdout held back and its stderr copied; then prints the held
// output when the status is done or done in part, the error object otherwise.
int RunForJson(std::ostream& out, std::ostream& err,
               const std::function<int(std::ostream& out, std::ostream& err)>& command);

// Called by a command whose status is settled as done or done in part before it writes its
// result: the output held so far, and everything after it, goes straight to stdout, so
// that a large result is not held whole in memory. Does nothing to an output not held.
void SettleHeldOutput(std::ostream& out);

// The error object itself.
void WriteJsonError(std::ostream& out, int status, std::string_view message);

}  // namespace hivewise::cli
