#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace hivewise {

// The status line and progress bar of a scan. One thread writes at a time (the scan
// thread while a scan runs); the window reads from a timer, so that a scan of many items
// does not queue one repaint per item.
//
// A walk sets the line for every value it reads, a million times in a large registry,
// and the window reads it a few times a second. So the line is written without a lock:
// a count that is odd while the writer is at work tells a reader to copy it again. A
// line too long for its room is kept under a lock instead.
class ScanStatus {
  public:
    void SetStatusLine(std::string_view text) { Write(text, {}, false); }
    // The line "key\value", kept in its two parts and joined when read.
    void SetStatusLine(std::string_view key, std::string_view value) { Write(key, value, true); }
    std::string StatusLine() const;
    // Changes with every line set.
    unsigned LineVersion() const { return sequence_.load(std::memory_order_acquire) / 2; }

    void SetRange(long upper) {
        upper_.store(upper < 0 ? 0 : upper);
        position_.store(0);
    }
    // One step; the bar stops at its upper end.
    void Step() {
        long pos = position_.load(std::memory_order_relaxed);
        if (pos < upper_.load(std::memory_order_relaxed)) {
            position_.store(pos + 1, std::memory_order_relaxed);
        }
    }
    void SetPosition(long pos) { position_.store(pos); }
    long Position() const { return position_.load(); }
    long Upper() const { return upper_.load(); }

  private:
    static constexpr size_t kWords = 96;  // room for key and value: 768 bytes
    static constexpr uint32_t kNoItem = UINT32_MAX;
    static constexpr uint32_t kLong = UINT32_MAX - 1;

    void Write(std::string_view key, std::string_view value, bool hasItem);

    std::atomic<uint32_t> sequence_{0};
    std::atomic<uint32_t> keyLength_{0};
    std::atomic<uint32_t> itemLength_{kNoItem};          // or kLong: the line is in long_
    std::array<std::atomic<uint64_t>, kWords> words_{};  // the key, then the value
    struct LongLine {
        std::string key;
        std::string item;
        bool hasItem = false;
    };
    mutable std::mutex longMutex_;
    LongLine long_;

    std::atomic<long> position_{0};
    std::atomic<long> upper_{0};
};

}  // namespace hivewise
