#include "platform/registry/process_heap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace hivewise {
namespace {

// A sanitizer brings its own allocator, which the C library's settings do not reach.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

// Whether the system makes huge pages for memory that asks for them.
bool HugePagesOnRequest() {
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(in, modes);
    return modes.find("[always]") != std::string::npos ||
           modes.find("[madvise]") != std::string::npos;
}

// The "THPeligible" line of the mapping that holds `address`: -1 when not found.
int HugePageEligible(const void* address) {
    std::ifstream maps("/proc/self/smaps");
    auto at = reinterpret_cast<uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(maps, line);) {
        uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> from >> dash >> to && dash == '-' && line.find(':') > 8) {
            inside = from <= at && at < to;
        } else if (inside && line.rfind("THPeligible:", 0) == 0) {
            return std::atoi(line.c_str() + 12);
        }
    }
    return -1;
}

// Small blocks, as a scan makes them, written and read back; the last one made.
void* FillAndCheck(std::vector<std::unique_ptr<char[]>>& blocks, int count, char mark) {
    for (int i = 0; i < count; ++i) {
        blocks.emplace_back(new char[700]);
        std::memset(blocks.back().get(), mark, 700);
    }
    for (const auto& block : blocks) {
        if (block[0] != mark || block[699] != mark) return nullptr;
    }
    return blocks.back().get();
}

// Both the thread that prepared the heap and a scan thread get their blocks from the
// region that grows in huge pages.
TEST(ProcessHeap, EveryThreadsSmallBlocksComeFromHugePages) {
    if (kOwnAllocator) GTEST_SKIP() << "a sanitizer's allocator serves the blocks";
    PrepareProcessHeap();
    std::vector<std::unique_ptr<char[]>> mine;
    void* last = FillAndCheck(mine, 20000, 'm');
    ASSERT_TRUE(last);
    void* theirs = nullptr;
    std::vector<std::unique_ptr<char[]>> scanThread;
    std::thread([&] { theirs = FillAndCheck(scanThread, 20000, 's'); }).join();
    ASSERT_TRUE(theirs);
    if (!HugePagesOnRequest() || HugePageEligible(last) < 0) {
        GTEST_SKIP() << "the system makes no huge pages or does not say where";
    }
    EXPECT_EQ(HugePageEligible(last), 1);
    EXPECT_EQ(HugePageEligible(theirs), 1);
}

}  // namespace
}  // namespace hivewise
