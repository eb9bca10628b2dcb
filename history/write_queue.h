// A thread of its own that hands the items of a small fixed queue to a writer one by one, so that the
// panel never waits for a disk. While a write hangs (a stalled network drive) the queue fills and
// further items are dropped.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace tarvelon {

template <class Item, int Capacity>
class WriteQueue {
  public:
    explicit WriteQueue(std::function<void(const Item&)> write)
        : write_(std::move(write)), thread_([this] { run(); }) {}
    ~WriteQueue() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

    // Queues item; false when the queue is full and the item was dropped. Never waits for a write.
    bool push(const Item& item) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (count_ == Capacity) return false;
            queue_[(first_ + count_) % Capacity] = item;
            ++count_;
        }
        wake_.notify_one();
        return true;
    }

    // Waits until every queued item has been written; for tests.
    void drain() {
        std::unique_lock<std::mutex> guard(lock_);
        drained_.wait(guard, [this] { return count_ == 0 && !busy_; });
    }

  private:
    void run() {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            wake_.wait(guard, [this] { return stopping_ || count_ != 0; });
            if (stopping_) return;
            const Item item = queue_[first_];
            first_ = (first_ + 1) % Capacity;
            --count_;
            busy_ = true;
            guard.unlock();
            write_(item);
            guard.lock();
            busy_ = false;
            if (count_ == 0) drained_.notify_all();
        }
    }

    std::function<void(const Item&)> write_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    Item queue_[Capacity];
    int first_ = 0;
    int count_ = 0;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;  // last: it runs once every member above is in place
};

}  // namespace tarvelon
