#include "scan/scanners/ordered_hand_off.h"

#include <exception>
#include <system_error>
#include <utility>

namespace hivewise {
namespace {

// Offsets in a batch's text are 32 bits: a batch is sent before its text reaches this.
constexpr size_t kBatchTextLimit = size_t{1} << 30;

}  // namespace

OrderedHandOff::OrderedHandOff(Check check, Keep keep, Limits limits)
    : check_(std::move(check)), keep_(std::move(keep)), limits_(limits) {
    if (limits_.batchItems == 0) limits_.batchItems = 1;
    if (limits_.batches == 0) limits_.batches = 1;
}

OrderedHandOff::~OrderedHandOff() {
    Finish();
}

void OrderedHandOff::CheckBatch(Batch& batch) {
    const std::string_view texts = batch.texts;
    for (Batch::Item& item : batch.items) {
        try {
            item.finding =
                check_(texts.substr(item.a, item.aSize), texts.substr(item.b, item.bSize),
                       texts.substr(item.c, item.cSize));
            if (item.finding && limits_.keepWhereChecked) keep_(std::move(item.finding));
        } catch (const std::exception&) {
            item.finding.reset();
            std::lock_guard lock(mutex_);
            ++faults_;
        }
    }
}

void OrderedHandOff::KeepBatch(Batch& batch) {
    for (Batch::Item& item : batch.items) {
        if (!item.finding) continue;
        try {
            keep_(std::move(item.finding));
        } catch (const std::exception&) {
            std::lock_guard lock(mutex_);
            ++faults_;
        }
    }
    batch.texts.clear();
    batch.items.clear();
}

std::unique_ptr<OrderedHandOff::Batch> OrderedHandOff::KeepNextBack() {
    std::unique_ptr<Batch> batch;
    {
        std::lock_guard lock(mutex_);
        if (back_.empty()) return nullptr;
        batch = std::move(back_.front());
        back_.pop_front();
    }
    KeepBatch(*batch);
    return batch;
}

std::unique_ptr<OrderedHandOff::Batch> OrderedHandOff::NextBatch() {
    {
        std::unique_lock lock(mutex_);
        if (back_.empty() && spare_.empty() && batchesMade_ >= limits_.batches) {
            checked_.wait(lock, [&] { return !back_.empty(); });
        }
        if (back_.empty() && !spare_.empty()) {
            std::unique_ptr<Batch> batch = std::move(spare_.back());
            spare_.pop_back();
            return batch;
        }
    }
    // Only this thread takes batches back: one seen above is still there.
    if (std::unique_ptr<Batch> batch = KeepNextBack()) {
        // The checks have caught up: the batches made while they were behind are not kept
        // for the rest of the walk, whose findings may use their room instead.
        while (std::unique_ptr<Batch> more = KeepNextBack())
            --batchesMade_;
        return batch;
    }
    auto batch = std::make_unique<Batch>();
    batch->items.reserve(limits_.batchItems);
    ++batchesMade_;
    return batch;
}

void OrderedHandOff::Push(std::string_view a, std::string_view b, std::string_view c) {
    if (handledAtOnce_ < limits_.handledAtOnce || threadFailed_) {
        ++handledAtOnce_;
        if (std::unique_ptr<Problem> finding = check_(a, b, c)) keep_(std::move(finding));
        return;
    }
    if (!filling_) filling_ = NextBatch();
    Batch& batch = *filling_;
    auto add = [&](std::string_view text, uint32_t* at, uint32_t* size) {
        *at = static_cast<uint32_t>(batch.texts.size());
        *size = static_cast<uint32_t>(text.size());
        batch.texts.append(text);
    };
    Batch::Item item{};
    add(a, &item.a, &item.aSize);
    // A walk hands over several values of one key in a row: their key text is kept once.
    const Batch::Item* last = batch.items.empty() ? nullptr : &batch.items.back();
    if (last && std::string_view(batch.texts).substr(last->b, last->bSize) == b) {
        item.b = last->b;
        item.bSize = last->bSize;
    } else {
        add(b, &item.b, &item.bSize);
    }
    add(c, &item.c, &item.cSize);
    batch.items.push_back(std::move(item));
    if (batch.items.size() >= limits_.batchItems || batch.texts.size() >= kBatchTextLimit) Send();
}

void OrderedHandOff::Send() {
    if (!filling_ || filling_->items.empty()) return;
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { ThreadMain(); });
        } catch (const std::system_error&) {
            // No second thread: this batch and every later item are checked here.
            threadFailed_ = true;
            CheckBatch(*filling_);
            KeepBatch(*filling_);
            filling_.reset();
            return;
        }
    }
    {
        std::lock_guard lock(mutex_);
        sent_.push_back(std::move(filling_));
    }
    ready_.notify_one();
}

void OrderedHandOff::ThreadMain() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ready_.wait(lock, [&] { return !sent_.empty() || ending_; });
        if (sent_.empty()) return;
        std::unique_ptr<Batch> batch = std::move(sent_.front());
        sent_.pop_front();
        lock.unlock();
        CheckBatch(*batch);
        lock.lock();
        back_.push_back(std::move(batch));
        checked_.notify_one();
    }
}

void OrderedHandOff::TakeBack() {
    while (std::unique_ptr<Batch> batch = KeepNextBack()) {
        std::lock_guard lock(mutex_);
        spare_.push_back(std::move(batch));
    }
}

void OrderedHandOff::Finish() {
    // Items wait in a batch only while a thread may take them (see Push).
    if (filling_ && !filling_->items.empty()) Send();
    filling_.reset();
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            ending_ = true;
        }
        ready_.notify_one();
        thread_.join();
        // The hand-off may be used again: the next batch starts a new thread.
        ending_ = false;
    }
    TakeBack();
}

size_t OrderedHandOff::TakeFaults() {
    std::lock_guard lock(mutex_);
    return std::exchange(faults_, 0);
}

}  // namespace hivewise
