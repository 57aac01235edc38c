#include "platform/Services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QScreen>
#include <QUrl>

#include "platform/HelpWindow.h"
#include "platform/MessageDialog.h"
#include "platform/NumLock.h"

namespace zyg {

namespace {

class QtMessageBoxes final : public MessageBoxes {
public:
    void show(MessageKind kind, const QString& text) override {
        const QScreen* screen = QGuiApplication::primaryScreen();
        MessageDialog box(kind, text,
                          screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768));
        box.exec();
    }
};

// "Text files|*.txt|All files|*.*" as Qt's "Text files (*.txt)", "All files (*)";
// "*.*" means every file, with or without a dot in its name.
QStringList qtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        filters << QStringLiteral("%1 (%2)").arg(parts[i], pattern.replace(u';', u' '));
    }
    return filters;
}

class QtFileDialogs final : public FileDialogs {
public:
    std::optional<QString> saveFileName(QWidget* parent,
                                        const SaveDialogRequest& request) override {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        const QStringList filters = qtNameFilters(request.filter);
        dialog.setNameFilters(filters);
        if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());
        dialog.setDefaultSuffix(request.defaultExtension);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
        dialog.setSizeGripEnabled(true);
        if (!request.lastFileName.isEmpty()) dialog.selectFile(request.lastFileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().front();
    }
    std::optional<QString> openFileName(QWidget* parent, const QString& filter) override {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(qtNameFilters(filter));
        dialog.setSizeGripEnabled(true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().front();
    }
};

class QtBeeper final : public Beeper {
public:
    void beep() override { QApplication::beep(); }
};

class PlatformKeyboard final : public KeyboardState {
public:
    std::optional<bool> numLockOn() override { return platformNumLockOn(); }
};

class DesktopUrls final : public UrlOpener {
public:
    void open(const QString& url) override { QDesktopServices::openUrl(QUrl(url)); }
};

}  // namespace

namespace {
int boxesShown = 0;
int boxesOpen = 0;
}  // namespace

void showMessage(MessageKind kind, const QString& text) {
    ++boxesShown;
    ++boxesOpen;
    struct Closed {
        ~Closed() { --boxesOpen; }
    } closed;
    services().messages->show(kind, text);
}

int messageBoxesShown() { return boxesShown; }

bool messageBoxOpen() { return boxesOpen > 0; }

Services& services() {
    static QtMessageBoxes messages;
    static QtFileDialogs files;
    static QtBeeper beeper;
    static PlatformKeyboard keyboard;
    static HelpWindowViewer help;
    static DesktopUrls urls;
    static Services installed{&messages, &files, &beeper, &keyboard, &help, &urls};
    return installed;
}

}  // namespace zyg
