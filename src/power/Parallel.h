#pragma once

// Units of work on several threads at once, with progress and cancellation:
// what a study's exact points and a solve's answers share. No Qt.

#include <atomic>
#include <cstddef>
#include <functional>

namespace zyg {

// Runs unit(i) for i = 0 .. total - 1 on `threads` threads (at most one per
// unit). The calling thread reports progress(done) while they work, at most
// every 50 ms and once at the end. The first exception of a unit stops the
// rest and is thrown here; a set `cancel` stops them and throws
// StudyCancelled.
void forEachInParallel(std::size_t total, unsigned threads,
                       const std::function<void(std::size_t)>& unit,
                       const std::function<void(std::size_t done)>& progress,
                       const std::atomic<bool>* cancel);

}  // namespace zyg
