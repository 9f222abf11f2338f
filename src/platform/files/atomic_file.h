#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace hivewise {

// Writes a file through a temporary file in the same folder (flushed, then renamed over
// the target), so that a crash or a full disk leaves the old file or the new one, never
// a part. `mode` is used for a new file; an existing file keeps its own. A symbolic link
// is followed and the file it names replaced; a device or FIFO is written to directly
// (nothing can be replaced there), with its write errors reported; a folder is refused.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view content,
                         std::string* error, mode_t mode = 0644);

// A file written and flushed beside its target but not yet put in place, so that several
// files can be written first and then replaced together. Discarded unless committed.
class StagedFile {
  public:
    StagedFile() = default;
    ~StagedFile() { Discard(); }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&& other) = delete;

    // Writes and flushes the temporary file. `mode` as for WriteFileAtomically.
    bool Write(const std::filesystem::path& path, std::string_view content, std::string* error,
               mode_t mode = 0644);
    // The same for content in pieces, written one after another.
    bool Write(const std::filesystem::path& path, const std::vector<std::string_view>& pieces,
               std::string* error, mode_t mode = 0644);
    // Renames the temporary file over the target.
    bool Commit(std::string* error);
    void Discard();

  private:
    std::filesystem::path path_;
    std::string temp_;
};

// Writes all of `content` to an open file, retrying short and interrupted writes.
bool WriteAll(int fd, std::string_view content);

// The most a whole-file read takes into memory unless its caller knows a smaller bound.
constexpr uint64_t kWholeFileLimit = uint64_t{512} << 20;

// Reads an open file from where it stands to its end into `out`, retrying interrupted
// reads; false when a read fails (errno says why) or more than `limit` bytes come, which
// `tooLarge` then tells.
bool ReadAll(int fd, std::string* out, uint64_t limit, bool* tooLarge = nullptr);

// Reads a whole file; false with a message when it cannot or when it holds more than
// `limit` bytes.
bool ReadWholeFile(const std::filesystem::path& path, std::string* out, std::string* error,
                   uint64_t limit = kWholeFileLimit);

}  // namespace hivewise
