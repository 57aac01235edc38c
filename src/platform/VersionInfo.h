#pragma once

// The version information of the program: string tables keyed by language and
// code page, as a version resource holds them, and the rule by which the About
// box turns it into its version line.

#include <QString>
#include <map>
#include <optional>
#include <vector>

namespace zyg {

// One string table: its block name, the language and code page as eight
// hexadecimal digits ("040904E4"), and its strings ("FileVersion" -> "1.0.0.1").
struct VersionStringTable {
    QString block;
    std::map<QString, QString> strings;
};

struct VersionInfo {
    std::vector<VersionStringTable> tables;

    // The amount of version information; 0 when there is none at all.
    [[nodiscard]] std::size_t size() const { return tables.size(); }
};

// Looks up a value by its path, "StringFileInfo\<block>\<key>". The block must
// be named exactly (hexadecimal digits in either case); no other block is
// tried in its place. Nothing when the block or the key is absent.
std::optional<QString> queryVersionValue(const VersionInfo& info, const QString& path);

// The version information of this program: FileVersion "1.0.0.1" and
// ProductVersion "1.0.0.0" in a single table, that of language 0813 (Dutch,
// Belgium) with code page 04E4.
const VersionInfo& programVersionInfo();

// The version line shown when the version information gives nothing.
inline const QString kDefaultVersionText = QStringLiteral("Version 1.0.0.0");

// The About box's version line: the FileVersion of table 040904E4 exactly as
// it stands, when it is present and not empty; otherwise kDefaultVersionText.
QString versionLabelText(const VersionInfo& info);

}  // namespace zyg
