#include "platform/VersionInfo.h"

#include <QStringList>

namespace zyg {

std::optional<QString> queryVersionValue(const VersionInfo& info, const QString& path) {
    const QStringList parts = path.split(u'\\');
    if (parts.size() != 3 || parts[0].compare(u"StringFileInfo", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    for (const VersionStringTable& table : info.tables) {
        if (table.block.compare(parts[1], Qt::CaseInsensitive) != 0) continue;
        const auto found = table.strings.find(parts[2]);
        if (found == table.strings.end()) return std::nullopt;
        return found->second;
    }
    return std::nullopt;
}

const VersionInfo& programVersionInfo() {
    static const VersionInfo info{{VersionStringTable{
        QStringLiteral("081304E4"),
        {
            {QStringLiteral("CompanyName"), QStringLiteral("The Zygomet developers")},
            {QStringLiteral("FileDescription"), QStringLiteral("Zygomet")},
            {QStringLiteral("FileVersion"), QStringLiteral(ZYGOMET_FILE_VERSION)},
            {QStringLiteral("InternalName"), QStringLiteral("zygomet")},
            {QStringLiteral("ProductName"), QStringLiteral("Zygomet")},
            {QStringLiteral("ProductVersion"), QStringLiteral("1.0.0.0")},
        },
    }}};
    return info;
}

QString versionLabelText(const VersionInfo& info) {
    if (info.size() == 0) return kDefaultVersionText;
    const std::optional<QString> fileVersion =
        queryVersionValue(info, QStringLiteral("StringFileInfo\\040904E4\\FileVersion"));
    if (fileVersion && !fileVersion->isEmpty()) return *fileVersion;
    return kDefaultVersionText;
}

}  // namespace zyg
