#include "platform/registry/key_handle_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "platform/registry/registry_access.h"

namespace hivewise {
namespace {

// Stand-ins for keys: the table only keeps their addresses.
RegKey* Fake(size_t n) {
    return reinterpret_cast<RegKey*>(0x10000 + 16 * n);
}

// Slots are given again, handles never: a closed handle stays dead after its slot is
// reused, and no number that was not given names a key.
TEST(KeyHandleTable, ClosedHandlesStayDeadWhileTheirSlotsAreReused) {
    KeyHandleTable table;
    std::set<RegHandle> given;
    std::vector<RegHandle> closed;
    for (size_t round = 0; round < 50; ++round) {
        std::vector<RegHandle> open;
        for (size_t i = 0; i < 20; ++i) {
            const RegHandle handle = table.Add(Fake(round * 100 + i));
            EXPECT_TRUE(given.insert(handle).second) << "given twice: " << handle;
            EXPECT_EQ(handle % 4, 0u);
            EXPECT_FALSE(handle >= kHkeyClassesRoot && handle <= kHkeyCurrentConfig);
            open.push_back(handle);
        }
        EXPECT_EQ(table.OpenCount(), 20u);
        for (size_t i = 0; i < open.size(); ++i)
            ASSERT_EQ(table.Get(open[i]), Fake(round * 100 + i));
        for (RegHandle handle : open) {
            EXPECT_TRUE(table.Remove(handle));
            EXPECT_FALSE(table.Remove(handle));
            closed.push_back(handle);
        }
        EXPECT_EQ(table.OpenCount(), 0u);
    }
    for (RegHandle handle : closed)
        ASSERT_EQ(table.Get(handle), nullptr) << handle;
    const RegHandle live = table.Add(Fake(1));
    for (RegHandle other : {RegHandle{0}, live + 1, live + 2, live + 4, kHkeyLocalMachine,
                            RegHandle{0x1000}, ~RegHandle{0}}) {
        EXPECT_EQ(table.Get(other), nullptr) << other;
        EXPECT_FALSE(table.Remove(other)) << other;
    }
    EXPECT_EQ(table.Get(live), Fake(1));
}

// A thread reading its own handles while another opens and closes keys over and over in
// the same slots reads its own keys only.
TEST(KeyHandleTable, ReadersSeeTheirOwnKeysWhileSlotsChangeHands) {
    KeyHandleTable table;
    std::vector<RegHandle> mine;
    for (size_t i = 0; i < 8; ++i)
        mine.push_back(table.Add(Fake(i)));
    std::atomic<bool> done{false};
    std::atomic<RegHandle> churned{0};
    std::thread churn([&] {
        for (size_t i = 0; i < 100000; ++i) {
            const RegHandle handle = table.Add(Fake(1000 + i % 7));
            churned.store(handle);
            table.Remove(handle);
        }
        done = true;
    });
    size_t wrong = 0;
    while (!done) {
        for (size_t i = 0; i < mine.size(); ++i)
            wrong += table.Get(mine[i]) != Fake(i);
        // A closed handle of the other thread never names a key of this one.
        RegKey* other = table.Get(churned.load());
        wrong += other != nullptr && (other < Fake(1000) || other > Fake(1006));
    }
    churn.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(table.OpenCount(), mine.size());
}

}  // namespace
}  // namespace hivewise
