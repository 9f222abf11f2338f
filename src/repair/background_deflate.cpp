#include "repair/background_deflate.h"

#include <exception>
#include <system_error>
#include <utility>

namespace hivewise {

BackgroundDeflate::BackgroundDeflate() {
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread: each job is deflated as it is handed over.
    }
}

BackgroundDeflate::~BackgroundDeflate() {
    {
        std::lock_guard lock(mutex_);
        jobs_.clear();  // a backup given up: what is left need not be deflated
    }
    Stop();
}

void BackgroundDeflate::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void BackgroundDeflate::AddWhole(std::string bytes) {
    HandOver(Job{std::move(bytes), true});
}

void BackgroundDeflate::AppendPiece(std::string bytes) {
    HandOver(Job{std::move(bytes), false});
}

void BackgroundDeflate::HandOver(Job job) {
    if (!thread_.joinable()) return Handle(job);
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void BackgroundDeflate::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, and all handed over is done
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        Handle(job);
        lock.lock();
    }
}

void BackgroundDeflate::Handle(Job& job) {
    if (failed_) return;
    try {
        if (job.whole) {
            DeflatedBytes result;
            wholeDeflater_.Reset();
            wholeDeflater_.Append(job.bytes);
            failed_ = !wholeDeflater_.Finish(&result);
            whole_.push_back(std::move(result));
        } else {
            anyPiece_ = true;
            pieceDeflater_.Append(job.bytes);
        }
    } catch (const std::exception&) {
        failed_ = true;  // out of memory: the backup cannot be written
    }
}

bool BackgroundDeflate::Finish(std::vector<DeflatedBytes>* whole, DeflatedBytes* pieces) {
    Stop();
    *pieces = {};
    if (anyPiece_ && !failed_) failed_ = !pieceDeflater_.Finish(pieces);
    *whole = std::move(whole_);
    whole_.clear();
    return !failed_;
}

}  // namespace hivewise
