#include "platform/Services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include "platform/HelpWindow.h"
#include "platform/NumLock.h"
#include "platform/Title.h"

namespace zyg {

namespace {

class QtMessageBoxes final : public MessageBoxes {
public:
    void show(MessageKind kind, const QString& text) override {
        QMessageBox box;
        switch (kind) {
            case MessageKind::Error:
                box.setWindowTitle(QStringLiteral("Error"));
                box.setIcon(QMessageBox::Critical);
                break;
            case MessageKind::Information:
                box.setWindowTitle(QStringLiteral("Information"));
                box.setIcon(QMessageBox::Information);
                break;
            case MessageKind::ApplicationError:
                box.setWindowTitle(kApplicationTitle);
                box.setIcon(QMessageBox::Critical);
                break;
        }
        box.setText(text);
        box.setTextFormat(Qt::PlainText);
        box.setStandardButtons(QMessageBox::Ok);
        box.setWindowModality(Qt::ApplicationModal);
        // Centred on the screen, not on the window.
        box.adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            box.move(screen->availableGeometry().center() - box.rect().center());
        box.exec();
    }
};

class QtFileDialogs final : public FileDialogs {
public:
    std::optional<QString> saveFileName(QWidget* parent, const SaveDialogRequest& request) override {
        QFileDialog dialog(parent);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(request.filters);
        if (!request.filters.isEmpty()) dialog.selectNameFilter(request.filters.front());
        dialog.setDefaultSuffix(request.defaultSuffix);
        dialog.setSizeGripEnabled(true);
        if (!request.lastFileName.isEmpty()) dialog.selectFile(request.lastFileName);
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
