#pragma once

// The export commands' dialog: asks for a file name through the platform's
// save dialog, offering the name chosen last in the window with the new
// extension, in the folder written last (a folder that refused the file, such
// as /proc, is not offered again: its listing may even block), writes the
// file and reports a fault in the error box.

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace zyg {

class ExportNames {
public:
    // The save dialog for one kind of file ("PNG pictures|*.png", "png").
    std::optional<QString> ask(QWidget* owner, const QString& filter, const QString& extension);
    // A file was written under this name: its folder is offered next.
    void written(const QString& name);

private:
    QString lastName_;    // the name chosen last, without its folder and extension
    QString lastFolder_;  // the folder a file was last written to
};

// Asks for a name, then writes the file with `write`, which returns the empty
// text or the fault. Returns the name written, or nothing when the user
// cancelled or the file could not be written (the fault is then shown).
std::optional<QString> exportFile(QWidget* owner, ExportNames& names, const QString& filter,
                                  const QString& extension,
                                  const std::function<QString(const QString&)>& write);

}  // namespace zyg
