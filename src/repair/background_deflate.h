#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "repair/deflated_bytes.h"

// Deflates a fix backup's entries on a thread of its own while the repair goes on:
// whole entries (the key exports), each as it is saved, and one entry fed piece by piece
// (the record list). The bytes are handed over, not shared; the results are taken once,
// after everything handed over has been deflated. Where no thread can be started, the
// work is done at once on the caller's thread.
namespace hivewise {

class BackgroundDeflate {
  public:
    BackgroundDeflate();
    // Waits for the thread; results not taken are dropped.
    ~BackgroundDeflate();
    BackgroundDeflate(const BackgroundDeflate&) = delete;
    BackgroundDeflate& operator=(const BackgroundDeflate&) = delete;

    // The next whole entry; its result is the next of Finish's `whole`.
    void AddWhole(std::string bytes);
    // The next piece of the entry fed piece by piece.
    void AppendPiece(std::string bytes);
    // Waits until everything handed over is deflated and takes the results: the whole
    // entries in the order given, and the entry of the pieces (empty data when no piece
    // came). False when any of it could not be deflated. Nothing may be added afterwards.
    bool Finish(std::vector<DeflatedBytes>* whole, DeflatedBytes* pieces);

  private:
    struct Job {
        std::string bytes;
        bool whole = false;
    };
    // Queues the job for the thread, or handles it at once without one.
    void HandOver(Job job);
    void Run();
    // On the deflating thread (or the caller's, without one).
    void Handle(Job& job);
    void Stop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;   // under mutex_
    bool stopping_ = false;  // under mutex_
    std::thread thread_;

    // The deflating thread's own until it has stopped.
    Deflater wholeDeflater_;
    Deflater pieceDeflater_;
    std::vector<DeflatedBytes> whole_;
    bool anyPiece_ = false;
    bool failed_ = false;
};

}  // namespace hivewise
