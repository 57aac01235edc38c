#pragma once

// Fakes and a host window for the widget tests.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QStringList>
#include <QTest>
#include <QWidget>
#include <ostream>
#include <vector>

#include "platform/Locale.h"
#include "platform/Services.h"
#include "support/QtPrinters.h"

namespace zyg::testing {

class CountingBeeper final : public Beeper {
public:
    void beep() override { ++beeps; }
    int beeps = 0;
};

class RecordingMessages final : public MessageBoxes {
public:
    void show(MessageKind, const QString& text) override { shown << text; }
    QStringList shown;
};

// Counts beeps and records error boxes instead of showing them.
class FakeServices {
public:
    FakeServices() : scope_(replacement()) {}
    CountingBeeper beeper;
    RecordingMessages messages;

private:
    Services replacement() {
        Services s = services();
        s.beeper = &beeper;
        s.messages = &messages;
        return s;
    }
    ScopedServices scope_;
};

// Installs the given separators for one test.
class ScopedSeparators {
public:
    explicit ScopedSeparators(const QString& decimal, const QString& thousands) {
        LocaleSeparators s;
        s.decimal = decimal;
        s.thousands = thousands;
        setLocaleSeparators(s);
    }
    ~ScopedSeparators() { resetLocaleSeparators(); }
};

// A shown, active top-level window that records the keys reaching it.
class HostWindow : public QWidget {
public:
    HostWindow() { resize(300, 200); }
    void showActive() {
        show();
        activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(this));
    }
    std::vector<int> keysSeen;

protected:
    void keyPressEvent(QKeyEvent* event) override { keysSeen.push_back(event->key()); }
};

}  // namespace zyg::testing
