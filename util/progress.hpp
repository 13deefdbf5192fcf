#pragma once

#include <atomic>
#include <cstdint>

namespace tolvane {

// What a long piece of work is busy with.
enum class Phase : int {
    idle,       // not started
    walking,    // listing the site's folders: done counts entries, no total
    comparing,  // reading the images that share name and size: bytes of them
    indexing,   // reading the site's text files for references: files
    optimizing, // the run's steps: kept files placed, files rewritten, copies removed
    undoing,    // undo's steps: copies put back, files restored, added files removed
    previewing, // listing what a plan would change: the files it rewrites, read again
    finished,   // the work is over, whether complete, cancelled or failed
};

// One piece of work's progress, written by the thread doing it and polled by any other: the
// window from a timer, the command line between its lines. The cancel switch goes the other
// way; the work looks at it between steps and stops where it can.
class Progress {
  public:
    struct Snapshot {
        Phase phase = Phase::idle;
        std::uint64_t done = 0;
        std::uint64_t total = 0; // 0 while not known
    };

    // A new phase, counted from zero.
    void start(Phase phase, std::uint64_t total = 0) {
        done_.store(0, std::memory_order_relaxed);
        total_.store(total, std::memory_order_relaxed);
        phase_.store(phase, std::memory_order_release);
    }
    void setTotal(std::uint64_t total) { total_.store(total, std::memory_order_relaxed); }
    void advance(std::uint64_t by = 1) { done_.fetch_add(by, std::memory_order_relaxed); }
    void finish() { phase_.store(Phase::finished, std::memory_order_release); }

    Phase phase() const { return phase_.load(std::memory_order_acquire); }
    std::uint64_t done() const { return done_.load(std::memory_order_relaxed); }
    std::uint64_t total() const { return total_.load(std::memory_order_relaxed); }
    Snapshot snapshot() const { return {phase(), done(), total()}; }

    void cancel() { cancel_.store(true, std::memory_order_relaxed); }
    bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }

  private:
    std::atomic<Phase> phase_{Phase::idle};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
    std::atomic<bool> cancel_{false};
};

} // namespace tolvane
