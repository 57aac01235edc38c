#pragma once

// Recording stand-ins for the platform services, so that GUI tests never
// block on a modal box or touch the desktop.

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "core/Clock.h"
#include "platform/Services.h"

namespace zyg::testing {

class FakeMessages final : public MessageBoxes {
public:
    std::vector<std::pair<MessageKind, QString>> shown;
    std::function<void()> onShow;  // runs while the "box" is open
    void show(MessageKind kind, const QString& text) override {
        shown.emplace_back(kind, text);
        if (onShow) onShow();
    }
    QStringList texts(MessageKind kind) const {
        QStringList r;
        for (const auto& [k, t] : shown)
            if (k == kind) r << t;
        return r;
    }
};

class FakeFiles final : public FileDialogs {
public:
    std::deque<std::optional<QString>> answers;  // what the next dialogs return
    std::vector<SaveDialogRequest> requests;
    std::optional<QString> saveFileName(QWidget*, const SaveDialogRequest& request) override {
        requests.push_back(request);
        if (answers.empty()) return std::nullopt;
        const bool cancelled = !answers.front().has_value();
        const QString name = answers.front().value_or(QString());
        answers.pop_front();
        if (cancelled) return std::nullopt;
        return name;
    }
    std::deque<std::optional<QString>> openAnswers;  // what the next open dialogs return
    std::optional<QString> openFileName(QWidget*, const QString&) override {
        // As in saveFileName: copying the optional itself draws GCC's false
        // maybe-uninitialized warning.
        if (openAnswers.empty()) return std::nullopt;
        const bool cancelled = !openAnswers.front().has_value();
        const QString name = openAnswers.front().value_or(QString());
        openAnswers.pop_front();
        if (cancelled) return std::nullopt;
        return name;
    }
};

class FakeBeeper final : public Beeper {
public:
    int beeps = 0;
    void beep() override { ++beeps; }
};

class FakeKeyboard final : public KeyboardState {
public:
    std::optional<bool> state = false;
    std::optional<bool> numLockOn() override { return state; }
};

class FakeHelp final : public HelpViewer {
public:
    std::vector<std::pair<QString, int>> requests;  // file and context (0 = contents)
    void showContents(QWidget*, const QString& file) override { requests.emplace_back(file, 0); }
    void showTopic(QWidget*, const QString& file, int context) override {
        requests.emplace_back(file, context);
    }
};

class FakeUrls final : public UrlOpener {
public:
    QStringList opened;
    void open(const QString& url) override { opened << url; }
};

class FixedClock final : public Clock {
public:
    TimeOfDay time{13, 45, 30, 250};
    TimeOfDay utcTimeOfDay() const override { return time; }
};

// All services faked for the lifetime of the object.
struct FakeEnvironment {
    FakeMessages messages;
    FakeFiles files;
    FakeBeeper beeper;
    FakeKeyboard keyboard;
    FakeHelp help;
    FakeUrls urls;
    FixedClock clock;
    ScopedServices scope{Services{&messages, &files, &beeper, &keyboard, &help, &urls}};

    FakeEnvironment() { setClock(&clock); }
    ~FakeEnvironment() { setClock(nullptr); }
};

}  // namespace zyg::testing
