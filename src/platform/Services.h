#pragma once

// The platform services that the program reaches through small interfaces, so
// that tests can replace them: modal message boxes, the save dialog, the
// system beep, the Num Lock state, the help viewer and the URL opener.

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace zyg {

enum class MessageKind {
    Error,             // caption "Error", error icon, one OK button
    Information,       // caption "Information", information icon, one OK button
    ApplicationError,  // caption "Q9 Zygomet", stop icon, one OK button
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box centred on the screen and returns when it is closed.
    virtual void show(MessageKind kind, const QString& text) = 0;
};

// The save dialog's settings, and the name chosen in it last.
struct SaveDialogRequest {
    // Pairs of description and pattern, separated by bars; the first is selected.
    QString filter = QStringLiteral("Text files|*.txt|All files|*.*");
    QString defaultExtension = QStringLiteral("txt");  // added to a name typed without one
    QString lastFileName;                              // the dialog opens with it
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // A modal save dialog that asks before overwriting; the full path, or
    // nothing when the user cancels.
    virtual std::optional<QString> saveFileName(QWidget* parent,
                                                const SaveDialogRequest& request) = 0;
    // A modal dialog that opens an existing file, with the filters of a
    // SaveDialogRequest ("Text files|*.txt|All files|*.*"); the full path, or
    // nothing when the user cancels.
    virtual std::optional<QString> openFileName(QWidget* parent, const QString& filter) = 0;
};

class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

class KeyboardState {
public:
    virtual ~KeyboardState() = default;
    // Whether Num Lock is on; nothing when the platform cannot tell.
    virtual std::optional<bool> numLockOn() = 0;
};

class HelpViewer {
public:
    virtual ~HelpViewer() = default;
    // Opens the help file at its contents, or at the topic of a help context
    // number; reports a missing file itself.
    virtual void showContents(QWidget* owner, const QString& helpFile) = 0;
    virtual void showTopic(QWidget* owner, const QString& helpFile, int context) = 0;
};

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Asks the desktop to open a web address; the result is not checked.
    virtual void open(const QString& url) = 0;
};

struct Services {
    MessageBoxes* messages;
    FileDialogs* files;
    Beeper* beeper;
    KeyboardState* keyboard;
    HelpViewer* help;
    UrlOpener* urls;
};

// The services in use; a test may overwrite any pointer (and must restore it).
Services& services();

// Shows a message box through the installed service. Every box of the program
// goes through here, so that an auto-repeat can tell that a box came up.
void showMessage(MessageKind kind, const QString& text);
// How many boxes have come up since the program started.
int messageBoxesShown();
// Whether a box is open at this moment (its nested event loop is running).
bool messageBoxOpen();

// Replaces some services for the lifetime of the object, then puts the
// previous ones back.
class ScopedServices {
public:
    explicit ScopedServices(const Services& replacement) : saved_(services()) {
        services() = replacement;
    }
    ~ScopedServices() { services() = saved_; }
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;

private:
    Services saved_;
};

}  // namespace zyg
