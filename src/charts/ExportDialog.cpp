#include "charts/ExportDialog.h"

#include <QDir>
#include <QFileInfo>

#include "platform/Services.h"

namespace zyg {

std::optional<QString> ExportNames::ask(QWidget* owner, const QString& filter,
                                        const QString& extension) {
    SaveDialogRequest request;
    request.filter = filter;
    request.defaultExtension = extension;
    if (!lastName_.isEmpty()) {
        const QString file = lastName_ + u'.' + extension;
        request.lastFileName = lastFolder_.isEmpty() ? file : QDir(lastFolder_).filePath(file);
    }
    const std::optional<QString> name = services().files->saveFileName(owner, request);
    if (name) lastName_ = QFileInfo(*name).completeBaseName();
    return name;
}

void ExportNames::written(const QString& name) { lastFolder_ = QFileInfo(name).absolutePath(); }

std::optional<QString> exportFile(QWidget* owner, ExportNames& names, const QString& filter,
                                  const QString& extension,
                                  const std::function<QString(const QString&)>& write) {
    const std::optional<QString> name = names.ask(owner, filter, extension);
    if (!name) return std::nullopt;
    const QString fault = write(*name);
    if (!fault.isEmpty()) {
        services().messages->show(MessageKind::Error, fault);
        return std::nullopt;
    }
    names.written(*name);
    return name;
}

}  // namespace zyg
