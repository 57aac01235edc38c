#pragma once

// Background jobs of a window: each runs on a thread of its own, reports its
// progress and its result back on the window's thread, and only while it is
// still the current job. The owner stops and joins every job in its own
// destructor, so a window that holds one as a member has nothing to remember:
// a job's work never touches the window (it gets its inputs by value and a
// progress callback), and what it posts back is addressed to this object,
// which takes its pending calls with it when it goes.

#include <QObject>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/ErrorBoundary.h"

namespace zyg {

class Jobs {
public:
    // Called on the window's thread with the percentage done.
    using Progress = std::function<void(int percent)>;

    Jobs() = default;
    Jobs(const Jobs&) = delete;
    Jobs& operator=(const Jobs&) = delete;
    ~Jobs() { stopAll(); }

    bool running() const { return current_ != nullptr; }

    // Runs work(cancel, progress) on a new thread as the current job.
    // Back on the thread this object lives on, onProgress(percent) runs for
    // the progress the work reports and done(result, error) when it ends,
    // both only while the job is still the current one. An exception of the
    // work becomes the error text.
    template <class Result, class Work, class Done>
    void start(Work work, Progress onProgress, Done done) {
        auto job = std::make_unique<Job>();
        Job* raw = job.get();
        const unsigned generation = raw->generation = ++generation_;
        raw->thread =
            std::thread([this, raw, generation, work = std::move(work),
                         onProgress = std::move(onProgress), done = std::move(done)]() mutable {
                const Progress report = [this, generation, onProgress](int percent) {
                    QMetaObject::invokeMethod(
                        &receiver_,
                        [this, generation, onProgress, percent] {
                            guarded([&] {
                                if (isCurrent(generation) && onProgress) onProgress(percent);
                            });
                        },
                        Qt::QueuedConnection);
                };
                auto result = std::make_shared<std::optional<Result>>();
                QString error;
                try {
                    *result = work(raw->cancel, report);
                } catch (const std::exception& e) {
                    error = QString::fromUtf8(e.what());
                } catch (...) {
                    error = QStringLiteral("Unknown error");
                }
                raw->finished = true;
                QMetaObject::invokeMethod(
                    &receiver_,
                    [this, generation, result, error, done] {
                        guarded([&] {
                            reap();
                            // A cancelled or replaced job's result is dropped whole.
                            if (!isCurrent(generation)) return;
                            current_ = nullptr;
                            done(*result, error);
                        });
                    },
                    Qt::QueuedConnection);
            });
        current_ = raw;
        jobs_.push_back(std::move(job));
        reap();
    }

    // Tells the current job to stop; whatever it delivers is dropped.
    void drop() {
        if (current_) current_->cancel = true;
        current_ = nullptr;
    }

    // Stops every job and waits for its thread.
    void stopAll() {
        current_ = nullptr;
        for (auto& job : jobs_) job->cancel = true;
        for (auto& job : jobs_)
            if (job->thread.joinable()) job->thread.join();
        jobs_.clear();
    }

private:
    struct Job {
        std::atomic<bool> cancel{false};
        std::atomic<bool> finished{false};
        std::thread thread;
        unsigned generation = 0;
    };

    bool isCurrent(unsigned generation) const {
        return current_ && current_->generation == generation;
    }
    void reap() {
        for (auto it = jobs_.begin(); it != jobs_.end();) {
            if ((*it)->finished && it->get() != current_) {
                if ((*it)->thread.joinable()) (*it)->thread.join();
                it = jobs_.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Calls posted from the jobs' threads go to this object; they die with it.
    QObject receiver_;
    std::vector<std::unique_ptr<Job>> jobs_;
    Job* current_ = nullptr;
    unsigned generation_ = 0;
};

}  // namespace zyg
