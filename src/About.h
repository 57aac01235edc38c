#pragma once

// The About box: the program's picture, name, version line, release notice
// and purpose, a button that opens the home page, and OK.

#include <QDialog>
#include <QFont>
#include <QString>

#include "platform/VersionInfo.h"

class QFrame;
class QLabel;
class QPushButton;

namespace zyg {

class RichTextLabel;

// The program's home page as the address button shows it; the button opens
// its page "index.html".
inline const QString kHomePageAddress = QStringLiteral("https://zygomet.example.org/");
inline const QString kHomePageFile = QStringLiteral("index.html");

// The release notice under the version line.
inline const QString kReleaseNotice = QStringLiteral("\u00A9 2026 The Zygomet team");

class TAboutBox final : public QDialog {
    Q_OBJECT

public:
    // The version line comes from the program's own version information.
    explicit TAboutBox(QWidget* parent = nullptr);
    // The version line comes from the given version information.
    explicit TAboutBox(const VersionInfo& version, QWidget* parent = nullptr);

    // The box's fonts: the ordinary one, and the larger bold one of the name.
    static QFont boxFont();
    static QFont productNameFont();

    // Opens the home page through the desktop's URL opener.
    void UrlBtnClick();

    // ---- Controls, named by role and kind ----
    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductNameLabel = nullptr;
    QLabel* VersionLabel = nullptr;
    QLabel* NoticeLabel = nullptr;
    RichTextLabel* PurposeLabel = nullptr;
    QPushButton* UrlBtn = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate(const VersionInfo& version);
    void setVersionText(const QString& text);
    void centreOnScreen();
};

}  // namespace zyg
