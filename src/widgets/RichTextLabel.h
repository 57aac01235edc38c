#pragma once

// A label that draws a short caption given in a small subset of the Rich Text
// Format: a font table, font numbers (\fN), sizes in half-points (\fsN),
// raised runs (\upN, \dnN), \plain, groups and the escapes \\ \{ \} \'hh.
// Everything else in the source is skipped. The label does not size itself:
// it draws the caption from its top left corner, clipped to its rectangle, on
// its parent's background.

#include <QString>
#include <QWidget>
#include <vector>

namespace zyg {

// One stretch of the caption drawn with the same font, size and raise.
struct RichTextRun {
    QString text;             // the characters drawn; letters of the Symbol font are Greek
    QString fontName;         // the font's name in the font table ("" when it has none)
    double pointSize = 12.0;  // nominal size in points
    double raise = 0.0;       // baseline shift upwards in points (negative: lowered)

    friend bool operator==(const RichTextRun&, const RichTextRun&) = default;
};

// Reads the caption source into runs; empty runs are dropped and neighbours
// with the same look are merged.
std::vector<RichTextRun> parseRichText(const QString& rtf);

// The captions of the program: the chi-square symbol beside the X2 test's
// check box, the X2 beside the X2 value field, and the About box's line that
// states the program's purpose.
QString x2CheckBoxCaption();
QString x2ValueCaption();
QString purposeCaption();

class RichTextLabel : public QWidget {
    Q_OBJECT

public:
    explicit RichTextLabel(QWidget* parent = nullptr);
    explicit RichTextLabel(const QString& richText, QWidget* parent = nullptr);

    QString RichText() const { return richText_; }
    void setRichText(const QString& richText);

    // The caption as it is drawn, for inspection.
    const std::vector<RichTextRun>& runs() const { return runs_; }

    // The font, in pixels, that a run of the given nominal size is drawn
    // with: the label's own font stands for 8 points.
    QFont fontFor(const RichTextRun& run) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    double pixelsPerPoint() const;

    QString richText_;
    std::vector<RichTextRun> runs_;
};

}  // namespace zyg
