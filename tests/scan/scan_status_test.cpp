#include "scan/scan_status.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace hivewise {
namespace {

// A walk names a key and a value for each value it reads; the line reads as one, and a
// whole line set afterwards replaces both parts.
TEST(ScanStatusLine, KeyAndValueReadAsOneLine) {
    ScanStatus status;
    EXPECT_EQ(status.StatusLine(), "");
    status.SetStatusLine("HKEY_LOCAL_MACHINE\\Software\\A", "Path");
    EXPECT_EQ(status.StatusLine(), "HKEY_LOCAL_MACHINE\\Software\\A\\Path");
    unsigned version = status.LineVersion();
    status.SetStatusLine("HKEY_LOCAL_MACHINE\\Software\\A", "Other");
    EXPECT_EQ(status.StatusLine(), "HKEY_LOCAL_MACHINE\\Software\\A\\Other");
    EXPECT_NE(status.LineVersion(), version);
    status.SetStatusLine("HKEY_LOCAL_MACHINE\\Software\\B", "");
    EXPECT_EQ(status.StatusLine(), "HKEY_LOCAL_MACHINE\\Software\\B\\");
    status.SetStatusLine("Scan Complete");
    EXPECT_EQ(status.StatusLine(), "Scan Complete");
    status.SetStatusLine("Scan Complete", "x");
    EXPECT_EQ(status.StatusLine(), "Scan Complete\\x");
    status.SetStatusLine(std::string("a\0b", 3));
    EXPECT_EQ(status.StatusLine(), std::string("a\0b", 3));
}

// The line is kept in words: key and value meet at every place in a word, and a shorter
// line after a longer one leaves nothing of it behind.
TEST(ScanStatusLine, KeyAndValueMeetAtEveryPlaceInAWord) {
    ScanStatus status;
    auto text = [](size_t length, char first) {
        std::string made(length, ' ');
        for (size_t i = 0; i < length; ++i)
            made[i] = static_cast<char>(first + i % 26);
        return made;
    };
    for (size_t keyLength = 0; keyLength < 20; ++keyLength) {
        for (size_t valueLength = 0; valueLength < 20; ++valueLength) {
            const std::string key = text(keyLength, 'a');
            const std::string value = text(valueLength, 'A');
            status.SetStatusLine(key + "~" + value + "~" + value);
            status.SetStatusLine(key, value);
            ASSERT_EQ(status.StatusLine(), key + "\\" + value) << keyLength << "+" << valueLength;
        }
    }
}

// Lines of every length around the room's end read back whole, whichever came before.
TEST(ScanStatusLine, LongLinesReadBackWholeAfterShortOnesAndBefore) {
    ScanStatus status;
    for (size_t keyLength : {size_t{1}, size_t{700}, size_t{760}, size_t{767}, size_t{768},
                             size_t{769}, size_t{5000}, size_t{40000}}) {
        const std::string key(keyLength, 'k');
        for (size_t valueLength : {size_t{0}, size_t{7}, size_t{8}, size_t{300}}) {
            const std::string value(valueLength, 'v');
            status.SetStatusLine(key, value);
            ASSERT_EQ(status.StatusLine(), key + "\\" + value) << keyLength << "+" << valueLength;
            status.SetStatusLine("short");
            ASSERT_EQ(status.StatusLine(), "short");
            status.SetStatusLine(key);
            ASSERT_EQ(status.StatusLine(), key) << keyLength;
        }
    }
}

// A reader meets lines being written: it reads one line that was set, never parts of two.
TEST(ScanStatusLine, AReaderNeverSeesHalfOfTwoLines) {
    ScanStatus status;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i) {
            // Short and long lines alike; the value repeats the key's number.
            const std::string number = std::to_string(i);
            const std::string key =
                (i % 97 == 0 ? std::string(900, 'L') : std::string("K")) + number;
            status.SetStatusLine(key, "V" + number);
        }
        done = true;
    });
    // A line is good when its value repeats the number of its key.
    auto good = [](const std::string& line) {
        const size_t slash = line.rfind('\\');
        if (slash == std::string::npos) return false;
        const std::string key = line.substr(0, slash);
        const size_t digits = key.find_first_of("0123456789");
        return digits != std::string::npos && line.substr(slash + 1) == "V" + key.substr(digits);
    };
    std::string bad;
    for (int reads = 0; (!done || reads < 1000) && bad.empty(); ++reads) {
        const std::string line = status.StatusLine();
        if (!line.empty() && !good(line)) bad = line;
    }
    writer.join();
    EXPECT_EQ(bad.substr(0, 80), "");
    EXPECT_EQ(status.StatusLine(), "K199999\\V199999");
}

}  // namespace
}  // namespace hivewise
