#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "scan/problem.h"

// Hands items of three texts from a walk to a second thread, which checks them one by one
// in the order they were given and makes the findings of those that have one, and takes
// those findings back on the walk's thread, again in that order: reading the registry,
// asking the file system about the paths it names and making what is missing into findings
// then overlap on two processors. The first look at a path costs far more than the next,
// so the second thread may fall behind early and catch up later: enough batches may be in
// flight that the walk need not wait meanwhile, and those made meanwhile are let go once it
// has caught up. The first few hundred items are checked and kept at once on the caller's
// thread, so that a walk of a handful of paths runs as it would without the thread; not
// more, as those first looks are the dearest and the second thread idles meanwhile.
//
// Threads. Push and Finish come from one thread (the walk's). The check runs on that
// thread for the first items and afterwards only on the second thread, never on both at
// once: whatever the check uses is the second thread's from the first batch handed over
// until Finish returns, and the walk must not touch it meanwhile. The keeping runs on the
// walk's thread alone, from Push as checked batches come back and from Finish; or, with
// keepWhereChecked, right after each check on the same thread, so that what the keeping
// uses is then the second thread's as well.
namespace hivewise {

class OrderedHandOff {
  public:
    // The item's finding, or null when it has none.
    using Check = std::function<std::unique_ptr<Problem>(std::string_view a, std::string_view b,
                                                         std::string_view c)>;
    using Keep = std::function<void(std::unique_ptr<Problem> finding)>;

    struct Limits {
        size_t handledAtOnce = 512;  // items handled on the caller's thread first
        size_t batchItems = 1024;    // items per batch handed to the second thread
        size_t batches = 32;         // batches in flight at most, before Push waits
        // For a walk that does more per item than the checks do: its findings are kept
        // on the second thread, which else would wait for it.
        bool keepWhereChecked = false;
    };

    OrderedHandOff(Check check, Keep keep)
        : OrderedHandOff(std::move(check), std::move(keep), {}) {}
    OrderedHandOff(Check check, Keep keep, Limits limits);
    // Finishes: every item pushed is checked, and its finding kept, first.
    ~OrderedHandOff();
    OrderedHandOff(const OrderedHandOff&) = delete;
    OrderedHandOff& operator=(const OrderedHandOff&) = delete;

    void Push(std::string_view a, std::string_view b, std::string_view c);
    // Returns once every item pushed so far has been checked, and its finding kept.
    void Finish();
    // How many items' checks or keeping threw on the second thread, or whose keeping threw
    // when their batch came back, since the last call (such an item is left, and the next one
    // taken). For the items checked at once, Push passes the fault on.
    size_t TakeFaults();

  private:
    // Items back to back in one text, so that a batch costs no allocation once warm.
    struct Batch {
        struct Item {
            uint32_t a, aSize, b, bSize, c, cSize;
            std::unique_ptr<Problem> finding;
        };
        std::string texts;
        std::vector<Item> items;
    };

    // The batch to fill next: a checked one once its kept items are taken, a spare or a
    // new one, or the first to come back when as many as may are in flight.
    std::unique_ptr<Batch> NextBatch();
    void CheckBatch(Batch& batch);
    // Takes the batch's findings; faults are counted.
    void KeepBatch(Batch& batch);
    // The first checked batch, its findings taken; null when none is back.
    std::unique_ptr<Batch> KeepNextBack();
    // Takes the findings of every batch back from the second thread, in order.
    void TakeBack();
    void Send();
    void ThreadMain();

    Check check_;
    Keep keep_;
    Limits limits_;
    size_t handledAtOnce_ = 0;
    std::unique_ptr<Batch> filling_;
    bool threadFailed_ = false;  // no thread could be started: every item is handled at once

    std::mutex mutex_;
    std::condition_variable ready_;    // a batch was sent, or the end was asked for
    std::condition_variable checked_;  // a batch was checked
    std::deque<std::unique_ptr<Batch>> sent_;
    std::deque<std::unique_ptr<Batch>> back_;  // checked, in the order sent
    std::vector<std::unique_ptr<Batch>> spare_;
    size_t batchesMade_ = 0;
    bool ending_ = false;
    size_t faults_ = 0;
    std::thread thread_;
};

}  // namespace hivewise
