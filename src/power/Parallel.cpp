#include "power/Parallel.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "power/PowerStudy.h"

namespace zyg {

void forEachInParallel(std::size_t total, unsigned threads,
                       const std::function<void(std::size_t)>& unit,
                       const std::function<void(std::size_t done)>& progress,
                       const std::atomic<bool>* cancel) {
    auto cancelled = [&] { return cancel && cancel->load(); };
    threads =
        std::clamp<unsigned>(threads, 1, static_cast<unsigned>(std::max<std::size_t>(total, 1)));
    std::atomic<std::size_t> next{0}, done{0};
    std::atomic<bool> stop{false};
    std::mutex m;
    std::condition_variable changed;
    std::exception_ptr failure;
    auto work = [&] {
        for (;;) {
            if (stop.load() || cancelled()) break;
            const std::size_t i = next.fetch_add(1);
            if (i >= total) break;
            try {
                unit(i);
            } catch (...) {
                std::lock_guard g(m);
                if (!failure) failure = std::current_exception();
                stop = true;
            }
            done.fetch_add(1);
            changed.notify_one();
        }
        changed.notify_one();
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    {
        // This thread reports progress while the others work.
        std::unique_lock lock(m);
        std::size_t reported = 0;
        while (done.load() < total && !stop.load() && !cancelled()) {
            changed.wait_for(lock, std::chrono::milliseconds(50));
            if (progress && done.load() != reported) {
                reported = done.load();
                lock.unlock();
                progress(reported);
                lock.lock();
            }
        }
    }
    for (std::thread& t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
    if (cancelled()) throw StudyCancelled();
    if (progress) progress(total);
}

}  // namespace zyg
