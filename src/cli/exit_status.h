#pragma once

// The exit statuses of hivewise-cli, the same for every command, so that scripts tell the
// outcomes apart without reading the text.
namespace hivewise::cli {

constexpr int kExitDone = 0;         // everything asked was done
constexpr int kExitFailed = 1;       // nothing was done, or the command failed outright
constexpr int kExitUsage = 2;        // the command line was wrong; nothing was done
constexpr int kExitPartial = 3;      // done in part: some items failed, each one named
constexpr int kExitWineRunning = 4;  // Wine runs in the prefix: nothing was written

}  // namespace hivewise::cli
