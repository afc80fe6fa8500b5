// Threads that end on their own, such as probers and traceroute captures: each start first
// joins the ones that have finished, so the set never grows with ended threads, and the
// owner joins the rest when it goes. Not itself thread-safe: its owner serialises calls.
#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <thread>
#include <utility>

namespace qv {

struct NoThreadState {};

template <class State = NoThreadState>
class ThreadSet {
  public:
    ThreadSet() = default;
    ThreadSet(const ThreadSet&) = delete;
    ThreadSet& operator=(const ThreadSet&) = delete;
    ~ThreadSet() { JoinAll(); }

    // Runs body(state) on a new thread. The state is made in place for that thread and
    // stays where it is until the thread has been joined.
    template <class Body>
    State& Start(Body body) {
        ReapFinished();
        Entry& entry = entries_.emplace_back();
        entry.thread = std::thread([&entry, body = std::move(body)]() mutable {
            body(entry.state);
            entry.finished.store(true, std::memory_order_release);
        });
        return entry.state;
    }

    // Joins and forgets the threads whose body has returned.
    void ReapFinished() {
        for (auto it = entries_.begin(); it != entries_.end();) {
            if (it->finished.load(std::memory_order_acquire)) {
                it->thread.join();
                it = entries_.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Threads not joined yet.
    size_t Size() const { return entries_.size(); }

    template <class Visit>
    void ForEach(Visit visit) {
        for (Entry& entry : entries_) {
            visit(entry.state);
        }
    }

    void JoinAll() {
        for (Entry& entry : entries_) {
            if (entry.thread.joinable()) {
                entry.thread.join();
            }
        }
        entries_.clear();
    }

  private:
    struct Entry {
        State state;
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    std::list<Entry> entries_;
};

}  // namespace qv
