#include "scan/scanners/ordered_hand_off.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace hivewise {
namespace {

struct Handled {
    std::string a, b, c;
    std::thread::id thread;
    bool operator==(const Handled& o) const { return a == o.a && b == o.b && c == o.c; }
};

// Items as a walk gives them: runs of one key's values, texts of every length (the empty
// one and one longer than a batch's usual room among them).
std::vector<Handled> WalkLikeItems(size_t count) {
    std::vector<Handled> items;
    for (size_t i = 0; i < count; ++i) {
        std::string path = "C:\\Program Files\\App" + std::to_string(i) + "\\app.exe";
        if (i % 97 == 5) path.clear();
        if (i == 777) path.assign(100000, 'p');
        items.push_back({path,
                         "HKEY_LOCAL_MACHINE\\Software\\Key" + std::to_string(i / 7),
                         i % 11 == 0 ? "" : "Value" + std::to_string(i),
                         {}});
    }
    return items;
}

// Every item is handled once, in the order pushed, whatever the sizes of the batches and
// however few may be in flight: the first ones on the caller's thread, the rest on one
// other thread. Pushing again after Finish starts over.
TEST(OrderedHandOff, HandlesEveryItemOnceInTheOrderPushed) {
    const std::vector<Handled> items = WalkLikeItems(3000);
    for (OrderedHandOff::Limits limits :
         {OrderedHandOff::Limits{0, 1, 1}, OrderedHandOff::Limits{3, 4, 2},
          OrderedHandOff::Limits{10, 1000, 8}, OrderedHandOff::Limits{5000, 16, 2}}) {
        std::vector<Handled> seen;
        OrderedHandOff handOff(
            [&](std::string_view a, std::string_view b, std::string_view c) {
                seen.push_back(
                    {std::string(a), std::string(b), std::string(c), std::this_thread::get_id()});
            },
            limits);
        size_t atOnceLeft = limits.handledAtOnce;
        for (int round = 0; round < 2; ++round) {
            seen.clear();
            for (const Handled& item : items)
                handOff.Push(item.a, item.b, item.c);
            handOff.Finish();
            ASSERT_EQ(seen, items) << "handled at once: " << limits.handledAtOnce
                                   << ", batch: " << limits.batchItems << ", round " << round;
            const size_t atOnce = std::min(atOnceLeft, items.size());
            atOnceLeft -= atOnce;
            for (size_t i = 0; i < seen.size(); ++i) {
                if (i < atOnce) {
                    EXPECT_EQ(seen[i].thread, std::this_thread::get_id()) << i;
                } else {
                    EXPECT_NE(seen[i].thread, std::this_thread::get_id()) << i;
                    if (i > atOnce) {
                        EXPECT_EQ(seen[i].thread, seen[atOnce].thread) << i;
                    }
                }
            }
        }
        EXPECT_EQ(handOff.TakeFaults(), 0u);
    }
}

// A handler that throws on the second thread costs only its item, and is counted; on the
// caller's thread the fault reaches the caller, as it would without a hand-off.
TEST(OrderedHandOff, FaultsOnTheSecondThreadCostOnlyTheirItem) {
    std::vector<std::string> seen;
    OrderedHandOff handOff(
        [&](std::string_view a, std::string_view, std::string_view) {
            if (a.starts_with("bad")) throw std::runtime_error("handler fault");
            seen.emplace_back(a);
        },
        {2, 3, 2});
    EXPECT_NO_THROW(handOff.Push("first", "", ""));
    EXPECT_THROW(handOff.Push("bad at once", "", ""), std::runtime_error);
    std::vector<std::string> expected = {"first"};
    for (int i = 0; i < 20; ++i) {
        std::string text = (i % 6 == 0 ? "bad " : "ok ") + std::to_string(i);
        handOff.Push(text, "key", "value");
        if (i % 6 != 0) expected.push_back(text);
    }
    handOff.Finish();
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(handOff.TakeFaults(), 4u);
    EXPECT_EQ(handOff.TakeFaults(), 0u);
}

// Finishing waits for the items in flight, and destroying the hand-off finishes it: nothing
// pushed is dropped, even while the second thread is still busy with earlier batches.
TEST(OrderedHandOff, FinishingWaitsForEveryItemInFlight) {
    std::atomic<int> handled{0};
    std::atomic<bool> slowStart{true};
    {
        OrderedHandOff handOff(
            [&](std::string_view, std::string_view, std::string_view) {
                if (slowStart.exchange(false))
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                handled.fetch_add(1);
            },
            {0, 8, 2});
        for (int i = 0; i < 500; ++i)
            handOff.Push("C:\\x.exe", "key", std::to_string(i));
        handOff.Finish();
        EXPECT_EQ(handled.load(), 500);
        for (int i = 0; i < 77; ++i)
            handOff.Push("C:\\y.exe", "key", std::to_string(i));
    }
    EXPECT_EQ(handled.load(), 577);
}

}  // namespace
}  // namespace hivewise
