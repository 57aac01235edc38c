#pragma once

// A small pool of persistent threads for the replicate loop, and the ordered
// chunked loop that runs on it.
//
// The threads are started the first time they are needed and then wait for
// work for the rest of the program, so a run pays a wake-up, not a thread
// creation. The calling thread always works too.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace zyg {

// A non-owning reference to a callable, so that a loop body can be handed
// to the pool without allocating.
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef>) FunctionRef(F&& f)
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* o, Args... a) -> R {
              return (*static_cast<std::remove_reference_t<F>*>(o))(static_cast<Args>(a)...);
          }) {}
    R operator()(Args... a) const { return call_(object_, static_cast<Args>(a)...); }

private:
    void* object_;
    R (*call_)(void*, Args...);
};

class WorkerPool {
public:
    static WorkerPool& instance();

    // The processor's cores, at least 1.
    static unsigned coreCount();

    // Runs `task` on `helpers` pool threads while the caller goes on; join()
    // waits until every one of them has returned, and `task` must live until
    // then. Starts missing threads once. An exception that leaves the task is
    // kept and rethrown by join().
    void start(unsigned helpers, const FunctionRef<void()>& task);
    void join();
    // join() that drops a kept exception, for a caller already failing.
    void joinQuietly();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

private:
    WorkerPool() = default;
    ~WorkerPool();
    void work(unsigned index);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    std::uint64_t generation_ = 0;
    unsigned wanted_ = 0;   // threads taking part in the current task
    unsigned running_ = 0;  // of those, how many have not returned yet
    bool stopping_ = false;
    const FunctionRef<void()>* task_ = nullptr;
    std::exception_ptr failure_;
};

// Runs body(first, last) over [0, total) in chunks of `chunk` items, on the
// calling thread and up to threads - 1 pool threads, chunks taken in order by
// whichever thread is free. On the calling thread only, and in increasing
// order, completed(count) is called whenever the run of finished chunks from
// the start grows; the last call has count = total. A failure in any body
// stops the loop and is rethrown here after every thread has returned.
void orderedChunks(std::uint32_t total, std::uint32_t chunk, unsigned threads,
                   FunctionRef<void(std::uint32_t, std::uint32_t)> body,
                   FunctionRef<void(std::uint32_t)> completed);

}  // namespace zyg
