#include <gtest/gtest.h>

#include <cstddef>

#include "platform/files/name_index.h"

namespace hivewise {
namespace {

using path_detail::NameIndex;

// Slot values are as wide as the entry count needs: each width up to its last value.
TEST(NameIndex, FindsTheFirstOfEqualKeysAtEverySlotWidth) {
    for (size_t count : {size_t{1}, size_t{255}, size_t{256}, size_t{65535}, size_t{65536}}) {
        // Entry i has key (i + 1) / 2: the first alone, then in pairs, and the last alone
        // where the count is even. Three keys share each hash.
        auto keyOf = [](size_t i) { return (i + 1) / 2; };
        auto firstOf = [](size_t key) { return key == 0 ? 0 : 2 * key - 1; };
        auto hashOf = [](size_t key) { return (key / 3) * 0x9E3779B97F4A7C15ULL >> 7; };
        NameIndex index;
        index.Build(
            count, [&](size_t i) { return hashOf(keyOf(i)); },
            [&](size_t a, size_t b) { return keyOf(a) == keyOf(b); });
        for (size_t key : {size_t{0}, keyOf(count / 3), keyOf(count - 1)}) {
            auto found = index.Find(hashOf(key), [&](size_t i) { return keyOf(i) == key; });
            ASSERT_TRUE(found) << count;
            EXPECT_EQ(*found, firstOf(key)) << count;
        }
        const size_t missing = keyOf(count - 1) + 1;
        EXPECT_FALSE(index.Find(hashOf(missing), [&](size_t i) { return keyOf(i) == missing; }));
    }
}

}  // namespace
}  // namespace hivewise
