#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace hivewise {

// Writes a file through a temporary file in the same folder (flushed, then renamed over
// the target), so that a crash or a full disk leaves the old file or the new one, never
// a part. `mode` is used for a new file; an existing file keeps its own. A symbolic link
// is followed and the file it names replaced; a device or FIFO is written to directly
// (nothing can be replaced there), with its write errors reported; a folder is refused.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content,
                         std::string* error, mode_t mode = 0644);

// Writes all of `content` to an open file, retrying short and interrupted writes.
bool WriteAll(int fd, std::string_view content);

// Reads a whole file; false with a message when it cannot.
bool ReadWholeFile(const std::filesystem::path& path, std::string* out, std::string* error);

}  // namespace hivewise
