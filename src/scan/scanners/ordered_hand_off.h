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

// Hands items of three texts from a walk to a second thread, which handles them one by one
// in the order they were given: reading the registry and asking the file system about the
// paths it names then overlap on two processors. The first items are handled at once on the
// caller's thread, so that a walk of a small registry runs as it would without the thread.
//
// Threads. Push and Finish come from one thread (the walk's). The handler runs on that
// thread for the first items and afterwards only on the second thread, never on both at
// once: whatever the handler uses is the second thread's from the first batch handed over
// until Finish returns, and the walk must not touch it meanwhile.
namespace hivewise {

class OrderedHandOff {
  public:
    using Handler = std::function<void(std::string_view a, std::string_view b, std::string_view c)>;

    struct Limits {
        size_t handledAtOnce = 4096;  // items handled on the caller's thread first
        size_t batchItems = 1024;     // items per batch handed to the second thread
        size_t batches = 8;           // batches in flight at most, before Push waits
    };

    explicit OrderedHandOff(Handler handler) : OrderedHandOff(std::move(handler), Limits{}) {}
    OrderedHandOff(Handler handler, Limits limits);
    // Finishes: every item pushed is handled first.
    ~OrderedHandOff();
    OrderedHandOff(const OrderedHandOff&) = delete;
    OrderedHandOff& operator=(const OrderedHandOff&) = delete;

    void Push(std::string_view a, std::string_view b, std::string_view c);
    // Returns once every item pushed so far has been handled.
    void Finish();
    // How many items' handlers threw on the second thread since the last call (such an item
    // is left, and the next one handled). On the caller's thread, Push passes it on.
    size_t TakeFaults();

  private:
    // Items back to back in one text, so that a batch costs no allocation once warm.
    struct Batch {
        struct Item {
            uint32_t a, aSize, b, bSize, c, cSize;
        };
        std::string texts;
        std::vector<Item> items;
    };

    void HandleOne(std::string_view a, std::string_view b, std::string_view c);
    void HandleBatch(const Batch& batch);
    void Send();
    void ThreadMain();

    Handler handler_;
    Limits limits_;
    size_t handledAtOnce_ = 0;
    std::unique_ptr<Batch> filling_;
    bool threadFailed_ = false;  // no thread could be started: every item is handled at once

    std::mutex mutex_;
    std::condition_variable ready_;  // a batch was sent, or the end was asked for
    std::condition_variable freed_;  // a batch was handled
    std::deque<std::unique_ptr<Batch>> sent_;
    std::vector<std::unique_ptr<Batch>> spare_;
    size_t batchesMade_ = 0;
    bool ending_ = false;
    size_t faults_ = 0;
    std::thread thread_;
};

}  // namespace hivewise
