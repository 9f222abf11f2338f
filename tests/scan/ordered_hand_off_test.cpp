#include "scan/scanners/ordered_hand_off.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
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

bool KeptByRule(const Handled& item) {
    return item.c.size() % 3 != 1;
}

// The finding a check makes of an item: its texts as item text, location and value name,
// with a description shared by all findings, as a scanner's are.
std::unique_ptr<Problem> FindingOf(std::string_view a, std::string_view b, std::string_view c) {
    return std::make_unique<Problem>(
        0, ProblemTexts{
               .itemText = a, .location = b, .valueName = c, .description = "is missing (%s)"});
}

Handled Taken(const Problem& finding) {
    EXPECT_EQ(finding.Description(), "is missing (%s)");
    return {std::string(finding.ItemText()), std::string(finding.Location()),
            std::string(finding.ValueName()), std::this_thread::get_id()};
}

// Every item is checked once, in the order pushed, whatever the sizes of the batches and
// however few may be in flight: the first ones on the caller's thread, the rest on one
// other thread. The findings the checks make are taken in the same order: on the caller's
// thread, or, when kept where checked, each on the thread that checked it.
// Pushing again after Finish starts over.
TEST(OrderedHandOff, ChecksEveryItemOnceAndKeepsInTheOrderPushed) {
    const std::vector<Handled> items = WalkLikeItems(3000);
    std::vector<Handled> keptItems;
    std::copy_if(items.begin(), items.end(), std::back_inserter(keptItems), KeptByRule);
    ASSERT_GT(keptItems.size(), 1000u);
    ASSERT_LT(keptItems.size(), items.size());
    std::vector<OrderedHandOff::Limits> cases;
    for (bool keepWhereChecked : {false, true}) {
        for (OrderedHandOff::Limits limits :
             {OrderedHandOff::Limits{0, 1, 1}, OrderedHandOff::Limits{3, 4, 2},
              OrderedHandOff::Limits{10, 1000, 8}, OrderedHandOff::Limits{5000, 16, 2}}) {
            limits.keepWhereChecked = keepWhereChecked;
            cases.push_back(limits);
        }
    }
    for (const OrderedHandOff::Limits& limits : cases) {
        std::vector<Handled> checked;
        std::vector<Handled> kept;
        OrderedHandOff handOff(
            [&](std::string_view a, std::string_view b, std::string_view c) {
                checked.push_back(
                    {std::string(a), std::string(b), std::string(c), std::this_thread::get_id()});
                return KeptByRule(checked.back()) ? FindingOf(a, b, c) : nullptr;
            },
            [&](std::unique_ptr<Problem> finding) { kept.push_back(Taken(*finding)); }, limits);
        size_t atOnceLeft = limits.handledAtOnce;
        for (int round = 0; round < 2; ++round) {
            checked.clear();
            kept.clear();
            for (const Handled& item : items)
                handOff.Push(item.a, item.b, item.c);
            handOff.Finish();
            ASSERT_EQ(checked, items) << "handled at once: " << limits.handledAtOnce
                                      << ", batch: " << limits.batchItems << ", round " << round;
            ASSERT_EQ(kept, keptItems) << "handled at once: " << limits.handledAtOnce
                                       << ", batch: " << limits.batchItems << ", round " << round;
            // The findings are kept in the order checked: each after its own check.
            size_t next = 0;
            for (const Handled& item : checked) {
                if (!KeptByRule(item)) continue;
                ASSERT_LT(next, kept.size());
                EXPECT_EQ(kept[next++].thread,
                          limits.keepWhereChecked ? item.thread : std::this_thread::get_id());
            }
            const size_t atOnce = std::min(atOnceLeft, items.size());
            atOnceLeft -= atOnce;
            for (size_t i = 0; i < checked.size(); ++i) {
                if (i < atOnce) {
                    EXPECT_EQ(checked[i].thread, std::this_thread::get_id()) << i;
                } else {
                    EXPECT_NE(checked[i].thread, std::this_thread::get_id()) << i;
                    if (i > atOnce) {
                        EXPECT_EQ(checked[i].thread, checked[atOnce].thread) << i;
                    }
                }
            }
        }
        EXPECT_EQ(handOff.TakeFaults(), 0u);
    }
}

// Kept items are taken while the walk goes on, not all at its end: the items not yet taken
// are never more than the batches that may be in flight hold.
TEST(OrderedHandOff, KeptItemsTrailThePushesByTheBatchesInFlight) {
    const OrderedHandOff::Limits limits{0, 4, 3};
    std::atomic<size_t> kept{0};
    OrderedHandOff handOff([](std::string_view a, std::string_view b,
                              std::string_view c) { return FindingOf(a, b, c); },
                           [&](std::unique_ptr<Problem>) { ++kept; }, limits);
    for (size_t pushed = 1; pushed <= 200; ++pushed) {
        handOff.Push("C:\\x.exe", "key", std::to_string(pushed));
        ASSERT_GE(kept + limits.batchItems * limits.batches, pushed);
    }
    handOff.Finish();
    EXPECT_EQ(kept.load(), 200u);
}

// Once the checks have caught up with the walk, every batch they gave back is taken at
// once, not one per batch filled: the findings do not wait, and the batches made while the
// checks were behind are let go. The hand-off goes on making new ones as it needs them.
TEST(OrderedHandOff, CaughtUpChecksGiveEverythingBackAtOnce) {
    const OrderedHandOff::Limits limits{0, 4, 8};
    std::atomic<bool> slow{true};
    std::atomic<size_t> kept{0};
    OrderedHandOff handOff(
        [&](std::string_view a, std::string_view b, std::string_view c) {
            if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return FindingOf(a, b, c);
        },
        [&](std::unique_ptr<Problem>) { ++kept; }, limits);
    size_t pushed = 0;
    auto push = [&](size_t count) {
        for (size_t i = 0; i < count; ++i)
            handOff.Push("C:\\x.exe", "key", std::to_string(pushed++));
    };
    push(limits.batchItems * limits.batches);
    slow = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    push(2 * limits.batchItems + 1);
    EXPECT_GE(kept + 2 * limits.batchItems + 1, pushed);
    for (int round = 0; round < 3; ++round) {
        slow = true;
        push(limits.batchItems * limits.batches * 2);
        slow = false;
    }
    handOff.Finish();
    EXPECT_EQ(kept.load(), pushed);
    EXPECT_EQ(handOff.TakeFaults(), 0u);
}

// A check that throws on the second thread costs only its item, and is counted, and so
// does a keeping that throws there or when its batch comes back; on the caller's thread
// the fault reaches the caller, as it would without a hand-off.
TEST(OrderedHandOff, FaultsCostOnlyTheirItem) {
    for (bool keepWhereChecked : {false, true}) {
        std::vector<std::string> kept;
        OrderedHandOff::Limits limits{3, 3, 2};
        limits.keepWhereChecked = keepWhereChecked;
        OrderedHandOff handOff(
            [&](std::string_view a, std::string_view b, std::string_view c) {
                if (a.starts_with("bad")) throw std::runtime_error("check fault");
                return FindingOf(a, b, c);
            },
            [&](std::unique_ptr<Problem> finding) {
                if (finding->ItemText().starts_with("unkeepable"))
                    throw std::runtime_error("keep fault");
                kept.emplace_back(finding->ItemText());
            },
            limits);
        EXPECT_NO_THROW(handOff.Push("first", "", ""));
        EXPECT_THROW(handOff.Push("bad at once", "", ""), std::runtime_error);
        EXPECT_THROW(handOff.Push("unkeepable at once", "", ""), std::runtime_error);
        std::vector<std::string> expected = {"first"};
        for (int i = 0; i < 30; ++i) {
            std::string text = (i % 6 == 0   ? "bad "
                                : i % 7 == 0 ? "unkeepable "
                                             : "ok ") +
                               std::to_string(i);
            handOff.Push(text, "key", "value");
            if (text.starts_with("ok")) expected.push_back(text);
        }
        handOff.Finish();
        EXPECT_EQ(kept, expected);
        EXPECT_EQ(handOff.TakeFaults(), 5u + 4u);
        EXPECT_EQ(handOff.TakeFaults(), 0u);
    }
}

// Finishing waits for the items in flight, and destroying the hand-off finishes it: nothing
// pushed is dropped, even while the second thread is still busy with earlier batches.
TEST(OrderedHandOff, FinishingWaitsForEveryItemInFlight) {
    std::atomic<int> checked{0};
    std::atomic<int> kept{0};
    std::atomic<bool> slowStart{true};
    {
        OrderedHandOff handOff(
            [&](std::string_view a, std::string_view b, std::string_view c) {
                if (slowStart.exchange(false))
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                checked.fetch_add(1);
                return FindingOf(a, b, c);
            },
            [&](std::unique_ptr<Problem>) { ++kept; }, {0, 8, 2});
        for (int i = 0; i < 500; ++i)
            handOff.Push("C:\\x.exe", "key", std::to_string(i));
        handOff.Finish();
        EXPECT_EQ(checked.load(), 500);
        EXPECT_EQ(kept.load(), 500);
        for (int i = 0; i < 77; ++i)
            handOff.Push("C:\\y.exe", "key", std::to_string(i));
    }
    EXPECT_EQ(checked.load(), 577);
    EXPECT_EQ(kept.load(), 577);
}

}  // namespace
}  // namespace hivewise
