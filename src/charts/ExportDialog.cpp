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
    if (!lastBase_.isEmpty()) request.lastFileName = lastBase_ + u'.' + extension;
    const std::optional<QString> name = services().files->saveFileName(owner, request);
    if (name) {
        const QFileInfo chosen(*name);
        lastBase_ = chosen.dir().filePath(chosen.completeBaseName());
    }
    return name;
}

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
    return name;
}

}  // namespace zyg
