#pragma once

// What the study windows share: a computation run off the window's thread
// (one current job; a cancelled or replaced one finishes unseen), Enter, F1
// and Esc, the status line, the chart view and the picture exports.

#include <QDialog>
#include <QMetaObject>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "charts/ExportDialog.h"
#include "charts/StudySnapshot.h"
#include "platform/ErrorBoundary.h"

class QChart;
class QChartView;
class QLabel;
class QPushButton;

namespace zyg {

class StudyWindow : public QDialog {
    Q_OBJECT

public:
    ~StudyWindow() override;

    bool computing() const { return running_ != nullptr; }
    QChart* chart() const;

    // Export commands: ask for a file name, then write the chart's picture.
    void exportPng();
    void exportSvg();
    // The picture without the dialog; empty text on success, else the fault.
    virtual QString writePicture(const QString& path) const = 0;

    QChartView* chartView = nullptr;
    QLabel* statusLine = nullptr;

protected:
    StudyWindow(StudySource source, QString helpFile, int helpContext, QWidget* parent);

    // What Enter does away from a focused push button, and that button itself.
    virtual void primaryAction() = 0;
    virtual QPushButton* primaryButton() const = 0;
    // What closing the window stops; by default the running job, unseen.
    virtual void cancelWork() { dropRunningJob(); }

    void keyPressEvent(QKeyEvent* e) override;
    void hideEvent(QHideEvent* e) override;

    // The controls every study window has, made alike.
    QPushButton* pushButton(const char* name, const char* caption);
    void createChartView(QSize minimum);
    void createStatusLine();
    void setStatus(const QString& text, bool problem = false);
    void showChart(QChart* chart);
    // Asks for a file name and writes it; says so in the status line.
    void exportTo(const QString& filter, const QString& extension,
                  const std::function<QString(const QString&)>& write);

    // Connects a signal to work run inside the error boundary.
    template <class Sender, class Signal, class Work>
    void on(Sender* sender, Signal signal, Work work) {
        connect(sender, signal, this, [work] { guarded(work); });
    }

    // Runs work(cancel, generation) on a new thread as the current job; back
    // on the window's thread, done(result, error) runs only while that job is
    // still the current one. An exception of work becomes the error text.
    template <class Result, class Work, class Done>
    void startJob(Work work, Done done) {
        auto job = std::make_unique<Job>();
        job->generation = ++generation_;
        Job* raw = job.get();
        const unsigned generation = job->generation;
        job->thread = std::thread(
            [this, raw, generation, work = std::move(work), done = std::move(done)]() mutable {
                auto result = std::make_shared<std::optional<Result>>();
                QString error;
                try {
                    *result = work(raw->cancel, generation);
                } catch (const std::exception& e) {
                    error = QString::fromUtf8(e.what());
                } catch (...) {
                    error = QStringLiteral("Unknown error");
                }
                raw->finished = true;
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, result, error, done] {
                        guarded([&] {
                            reapJobs();
                            // Results of a cancelled or replaced job are dropped whole.
                            if (!isCurrentJob(generation)) return;
                            running_ = nullptr;
                            done(*result, error);
                        });
                    },
                    Qt::QueuedConnection);
            });
        running_ = raw;
        jobs_.push_back(std::move(job));
        reapJobs();
    }
    bool isCurrentJob(unsigned generation) const {
        return running_ && running_->generation == generation;
    }
    // Tells the running job to stop; what it delivers is dropped.
    void dropRunningJob();
    // Stops every job and waits for its thread. A window calls it first in
    // its destructor, so no job outlives the members the window built.
    void stopAllJobs();

    StudySource source_;

private:
    struct Job {
        std::atomic<bool> cancel{false};
        std::atomic<bool> finished{false};
        std::thread thread;
        unsigned generation = 0;
    };

    void reapJobs();

    QString helpFile_;
    int helpContext_;
    std::vector<std::unique_ptr<Job>> jobs_;
    Job* running_ = nullptr;
    unsigned generation_ = 0;
    ExportNames exportNames_;
};

}  // namespace zyg
