#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// An archive entry's bytes deflated ahead of its writing (raw deflate, as a ZIP entry
// stores them), so that compressing can go on beside other work instead of all at once
// when the archive is closed.
struct z_stream_s;

namespace hivewise {

// Deflate's fast levels: registry text packs to about a tenth either way, and the default
// level took twice as long, the most of a large repair's time. Every entry uses this one.
constexpr int kDeflateLevel = 3;

struct DeflatedBytes {
    std::string data;   // the deflate stream
    uint64_t size = 0;  // of the bytes before compression
    uint32_t crc = 0;   // CRC-32 of the bytes before compression
};

// Deflates the bytes of one entry given piece by piece; Reset starts the next entry with
// the same buffers. Failures (out of memory) are kept until Reset and end in Finish.
class Deflater {
  public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void Append(std::string_view bytes);
    // The entry deflated so far, ended; false when any step failed.
    bool Finish(DeflatedBytes* out);
    void Reset();

  private:
    bool Run(int flush);

    std::unique_ptr<z_stream_s> stream_;
    DeflatedBytes out_;
    size_t used_ = 0;  // bytes of out_.data written
    bool ok_ = false;
};

// The whole of `bytes` deflated; false only when memory ran out.
bool Deflate(std::string_view bytes, DeflatedBytes* out);

}  // namespace hivewise
