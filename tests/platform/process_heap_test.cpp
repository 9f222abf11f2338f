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

// Whether `address` lies in the heap the program's break grows ("[heap]" in the maps).
bool InProgramHeap(const void* address) {
    std::ifstream maps("/proc/self/maps");
    auto at = reinterpret_cast<uintptr_t>(address);
    for (std::string line; std::getline(maps, line);) {
        uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> from >> dash >> to && dash == '-' && from <= at && at < to)
            return line.find("[heap]") != std::string::npos;
    }
    return false;
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

// A scan thread takes its blocks from the one heap rather than from a heap of its own,
// and gets back what it freed there.
TEST(ProcessHeap, EveryThreadTakesItsSmallBlocksFromTheOneHeap) {
    if (kOwnAllocator) GTEST_SKIP() << "a sanitizer's allocator serves the blocks";
    PrepareProcessHeap();
    std::vector<std::unique_ptr<char[]>> mine;
    void* last = FillAndCheck(mine, 20000, 'm');
    ASSERT_TRUE(last);
    if (!InProgramHeap(last)) GTEST_SKIP() << "the system gives the program no break to grow";
    void* theirs = nullptr;
    std::vector<std::unique_ptr<char[]>> scanThread;
    std::thread([&] { theirs = FillAndCheck(scanThread, 20000, 's'); }).join();
    ASSERT_TRUE(theirs);
    EXPECT_TRUE(InProgramHeap(theirs));
    scanThread.clear();
    void* again = nullptr;
    std::thread([&] { again = FillAndCheck(scanThread, 20000, 'a'); }).join();
    EXPECT_TRUE(InProgramHeap(again));
}

}  // namespace
}  // namespace hivewise
