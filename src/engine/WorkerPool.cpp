#include "engine/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace zyg {

WorkerPool& WorkerPool::instance() {
    static WorkerPool pool;
    return pool;
}

unsigned WorkerPool::coreCount() { return std::max(1u, std::thread::hardware_concurrency()); }

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::start(unsigned helpers, const FunctionRef<void()>& task) {
    {
        std::lock_guard lock(mutex_);
        while (threads_.size() < helpers) {
            const unsigned index = static_cast<unsigned>(threads_.size());
            threads_.emplace_back([this, index] { work(index); });
        }
        task_ = &task;
        wanted_ = helpers;
        running_ = helpers;
        ++generation_;
    }
    wake_.notify_all();
}

void WorkerPool::join() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return running_ == 0; });
    task_ = nullptr;
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void WorkerPool::joinQuietly() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return running_ == 0; });
    task_ = nullptr;
    failure_ = nullptr;
}

void WorkerPool::work(unsigned index) {
    std::uint64_t seen = 0;
    for (;;) {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || (generation_ != seen && index < wanted_); });
        if (stopping_) return;
        seen = generation_;
        const FunctionRef<void()>& task = *task_;
        lock.unlock();
        std::exception_ptr failure;
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && !failure_) failure_ = failure;
        if (--running_ == 0) done_.notify_all();
    }
}

void orderedChunks(std::uint32_t total, std::uint32_t chunk, unsigned threads,
                   FunctionRef<void(std::uint32_t, std::uint32_t)> body,
                   FunctionRef<void(std::uint32_t)> completed) {
    if (total == 0) return;
    chunk = std::max<std::uint32_t>(chunk, 1);
    const std::uint32_t chunks = (total - 1) / chunk + 1;
    const auto chunkEnd = [&](std::uint32_t c) {
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(total, std::uint64_t{c} * chunk + chunk));
    };
    const unsigned helpers =
        static_cast<unsigned>(std::min<std::uint32_t>(std::max(threads, 1u) - 1, chunks - 1));
    if (helpers == 0) {
        for (std::uint32_t c = 0; c < chunks; ++c) {
            body(c * chunk, chunkEnd(c));
            completed(chunkEnd(c));
        }
        return;
    }

    std::atomic<std::uint32_t> next{0};
    std::atomic<std::uint32_t> finished{0};  // a change wakes the calling thread
    std::atomic<bool> stop{false};
    const std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[chunks]);
    for (std::uint32_t c = 0; c < chunks; ++c) done[c].store(false, std::memory_order_relaxed);

    const auto runOne = [&]() -> bool {
        const std::uint32_t c = next.fetch_add(1, std::memory_order_relaxed);
        if (c >= chunks || stop.load(std::memory_order_relaxed)) return false;
        body(c * chunk, chunkEnd(c));
        done[c].store(true, std::memory_order_release);
        finished.fetch_add(1, std::memory_order_release);
        finished.notify_all();
        return true;
    };
    auto helperLoop = [&] {
        try {
            while (runOne()) {
            }
        } catch (...) {
            stop.store(true);
            finished.fetch_add(1, std::memory_order_release);
            finished.notify_all();
            throw;
        }
    };
    const FunctionRef<void()> task(helperLoop);

    WorkerPool& pool = WorkerPool::instance();
    pool.start(helpers, task);
    std::uint32_t prefix = 0;  // chunks finished from the start
    const auto advance = [&] {
        std::uint32_t p = prefix;
        while (p < chunks && done[p].load(std::memory_order_acquire)) ++p;
        if (p == prefix) return;
        prefix = p;
        completed(chunkEnd(p - 1));
    };
    try {
        while (runOne()) advance();
        while (!stop.load() && (advance(), prefix < chunks)) {
            const std::uint32_t seen = finished.load(std::memory_order_acquire);
            if (!done[prefix].load(std::memory_order_acquire) && !stop.load())
                finished.wait(seen, std::memory_order_acquire);
        }
    } catch (...) {
        stop.store(true);
        pool.joinQuietly();
        throw;
    }
    pool.join();
}

}  // namespace zyg
