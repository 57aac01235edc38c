#pragma once

// The boundary where Qt calls into the program. No C++ exception may unwind
// through a Qt frame, so every slot, event override and timer callback of the
// program runs its work through guarded(): an error ends that work and is
// shown in the application's error box, and the event loop goes on.

#include <QString>
#include <exception>
#include <utility>

#include "core/Errors.h"

namespace zyg {

// The text of the application error box: the message, with "." appended when
// its last character sorts after ".".
QString applicationErrorText(const QString& message);

// Shows an error that ended a command in the application's error box.
void reportCommandError(const QString& message);

template <class Work>
void guarded(Work&& work) noexcept {
    try {
        std::forward<Work>(work)();
    } catch (const SilentAbort&) {
        // A silent error ends the command and shows nothing.
    } catch (const std::exception& e) {
        reportCommandError(QString::fromUtf8(e.what()));
    } catch (...) {
        reportCommandError(QStringLiteral("Unknown error"));
    }
}

}  // namespace zyg
