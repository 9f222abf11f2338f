#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Finding a resource in a PE image (an executable or library) without loading it.
// Every read goes through ByteSource::ReadAt, which refuses any range that is not wholly
// inside the file, so a malformed image can only make the search fail.
namespace hivewise {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Copies `length` bytes at `offset`; false, copying nothing useful, when the range is
    // not wholly inside the source or the read fails.
    virtual bool ReadAt(uint64_t offset, void* out, size_t length) const = 0;
};

// An image already in memory; the bytes must outlive the source.
class MemoryByteSource : public ByteSource {
  public:
    explicit MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(uint64_t offset, void* out, size_t length) const override;

  private:
    std::string_view bytes_;
};

// A regular file read piece by piece, so large images cost only the bytes looked at.
class FileByteSource : public ByteSource {
  public:
    // Nothing when the path is not a readable regular file.
    static std::unique_ptr<FileByteSource> Open(const std::filesystem::path& path);
    ~FileByteSource() override;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;
    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* out, size_t length) const override;

  private:
    FileByteSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    int fd_;
    uint64_t size_;
};

constexpr uint16_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr uint16_t kVersionResourceId = 1;     // VS_VERSION_INFO

// The bytes of a resource of numeric type `type`, looked for as the loader does: the
// entry named `id` (or else the first entry of the type), in the language that fits
// `userLanguage` best (neutral, the user's language, its primary language, English,
// else the first one listed). At most `maxSize` bytes are returned. Nothing when the
// image is no PE file, is malformed, has no such resource or the file does not hold all
// of it.
std::optional<std::string> FindResourceData(const ByteSource& image, uint16_t type, uint16_t id,
                                            uint16_t userLanguage, size_t maxSize);

// The version resource of an image (a version block is never longer than 64 KiB).
std::optional<std::string> FindVersionResource(const ByteSource& image, uint16_t userLanguage);

}  // namespace hivewise
