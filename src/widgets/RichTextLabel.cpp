#include "widgets/RichTextLabel.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace zyg {

namespace {

// The size, in points, that the label's own font stands for.
constexpr double kBasePoints = 8.0;
// The caption starts at the label's left edge and this many pixels below its
// top edge.
constexpr int kTopInset = 1;

// The character formatting in force at one point of the source.
struct CharFormat {
    int font = 0;
    int halfPoints = 24;  // the format's default size, 12 points
    int raise = 0;        // half-points
};

struct Group {
    CharFormat format;
    bool skip = false;       // a destination whose text is not part of the caption
    bool fontTable = false;  // inside the font table
};

bool isSymbolFont(const QString& name) { return name.compare("Symbol", Qt::CaseInsensitive) == 0; }

// The Symbol font puts the Greek alphabet on the Latin letters.
QChar symbolToUnicode(QChar c) {
    static const char16_t lower[26] = {u'α', u'β', u'χ', u'δ', u'ε', u'φ', u'γ', u'η', u'ι',
                                       u'ϕ', u'κ', u'λ', u'μ', u'ν', u'ο', u'π', u'θ', u'ρ',
                                       u'σ', u'τ', u'υ', u'ϖ', u'ω', u'ξ', u'ψ', u'ζ'};
    static const char16_t upper[26] = {u'Α', u'Β', u'Χ', u'Δ', u'Ε', u'Φ', u'Γ', u'Η', u'Ι',
                                       u'ϑ', u'Κ', u'Λ', u'Μ', u'Ν', u'Ο', u'Π', u'Θ', u'Ρ',
                                       u'Σ', u'Τ', u'Υ', u'ς', u'Ω', u'Ξ', u'Ψ', u'Ζ'};
    const char16_t u = c.unicode();
    if (u >= u'a' && u <= u'z') return QChar(lower[u - u'a']);
    if (u >= u'A' && u <= u'Z') return QChar(upper[u - u'A']);
    return c;
}

bool isDestinationToSkip(const QString& word) {
    static const char* const kSkipped[] = {
        "colortbl",  "stylesheet", "info",         "pict",
        "header",    "footer",     "headerl",      "headerr",
        "footerl",   "footerr",    "listtable",    "listoverridetable",
        "generator", "rsidtbl",    "xmlnstbl",     "themedata",
        "object",    "datastore",  "latentstyles", "colorschememapping",
        "filetbl",   "revtbl",     "fldinst"};
    for (const char* name : kSkipped)
        if (word == QLatin1String(name)) return true;
    return false;
}

class Parser {
public:
    explicit Parser(const QString& source) : s_(source) {}

    std::vector<RichTextRun> parse() {
        groups_.push_back(Group{});
        while (i_ < s_.size()) {
            const QChar c = s_[i_];
            if (c == u'{') {
                ++i_;
                // A group starts with the formatting of its parent; a font
                // entry's group is still inside the font table.
                groups_.push_back(groups_.back());
                atGroupStart_ = true;
                continue;
            }
            if (c == u'}') {
                ++i_;
                endGroup();
                continue;
            }
            if (c == u'\\') {
                ++i_;
                controlSequence();
                continue;
            }
            ++i_;
            atGroupStart_ = false;
            // Line breaks and other control characters in the source are
            // not part of the text.
            if (c.unicode() < 32) continue;
            text(c);
        }
        return finish();
    }

private:
    Group& group() { return groups_.back(); }

    void endGroup() {
        if (group().fontTable && !group().skip) commitFontName();
        if (groups_.size() > 1) groups_.pop_back();
        atGroupStart_ = false;
    }

    void controlSequence() {
        if (i_ >= s_.size()) return;
        const QChar c = s_[i_];
        if (!c.isLetter() || c.unicode() > 127) {
            ++i_;
            controlSymbol(c);
            return;
        }
        const qsizetype start = i_;
        while (i_ < s_.size() && s_[i_].unicode() < 128 && s_[i_].isLetter()) ++i_;
        const QString word = s_.mid(start, i_ - start);
        std::optional<int> parameter;
        const qsizetype numberStart = i_;
        if (i_ < s_.size() && s_[i_] == u'-') ++i_;
        while (i_ < s_.size() && s_[i_] >= u'0' && s_[i_] <= u'9') ++i_;
        if (i_ > numberStart && !(i_ == numberStart + 1 && s_[numberStart] == u'-')) {
            bool ok = false;
            const int value = s_.mid(numberStart, i_ - numberStart).toInt(&ok);
            if (ok) parameter = value;
        } else {
            i_ = numberStart;
        }
        // One blank ends a control word and belongs to it.
        if (i_ < s_.size() && s_[i_] == u' ') ++i_;
        controlWord(word, parameter);
        atGroupStart_ = false;
    }

    void controlSymbol(QChar c) {
        const bool first = atGroupStart_;
        atGroupStart_ = false;
        switch (c.unicode()) {
            case u'\\':
            case u'{':
            case u'}': text(c); break;
            case u'~': text(QChar(0x00A0)); break;
            case u'_': text(QChar(u'-')); break;
            case u'*':
                if (first) group().skip = true;
                break;
            case u'\'': {
                if (i_ + 2 > s_.size()) break;
                bool ok = false;
                const int code = s_.mid(i_, 2).toInt(&ok, 16);
                if (ok) {
                    i_ += 2;
                    text(QChar(code));  // Latin-1
                }
                break;
            }
            default: break;  // \- and other symbols draw nothing
        }
    }

    void controlWord(const QString& word, std::optional<int> parameter) {
        if (word == u"fonttbl") {
            group().fontTable = true;
        } else if (isDestinationToSkip(word)) {
            if (atGroupStart_) group().skip = true;
        } else if (word == u"f") {
            if (group().fontTable) {
                commitFontName();
                tableFont_ = parameter.value_or(0);
            } else {
                group().format.font = parameter.value_or(0);
            }
        } else if (word == u"deff") {
            defaultFont_ = parameter.value_or(0);
            group().format.font = defaultFont_;
        } else if (word == u"fs") {
            group().format.halfPoints = parameter.value_or(24);
        } else if (word == u"up") {
            group().format.raise = parameter.value_or(6);
        } else if (word == u"dn") {
            group().format.raise = -parameter.value_or(6);
        } else if (word == u"plain") {
            group().format = CharFormat{defaultFont_, 24, 0};
        }
        // \rtf, \ansi, \par, \pard and every other word change nothing here.
    }

    void text(QChar c) {
        if (group().skip) return;
        if (group().fontTable) {
            if (c == u';') {
                commitFontName();
            } else {
                fontName_ += c;
            }
            return;
        }
        pending_.push_back({group().format, c});
    }

    void commitFontName() {
        const QString name = fontName_.trimmed();
        if (!name.isEmpty() && tableFont_) fonts_[*tableFont_] = name;
        fontName_.clear();
    }

    std::vector<RichTextRun> finish() {
        std::vector<RichTextRun> runs;
        for (const auto& [format, c] : pending_) {
            const auto font = fonts_.find(format.font);
            const QString name = font == fonts_.end() ? QString() : font->second;
            RichTextRun run{QString(isSymbolFont(name) ? symbolToUnicode(c) : c), name,
                            format.halfPoints / 2.0, format.raise / 2.0};
            if (!runs.empty() && runs.back().fontName == run.fontName &&
                runs.back().pointSize == run.pointSize && runs.back().raise == run.raise) {
                runs.back().text += run.text;
            } else {
                runs.push_back(std::move(run));
            }
        }
        return runs;
    }

    const QString& s_;
    qsizetype i_ = 0;
    std::vector<Group> groups_;
    bool atGroupStart_ = false;
    int defaultFont_ = 0;
    std::optional<int> tableFont_;
    QString fontName_;
    std::map<int, QString> fonts_;
    std::vector<std::pair<CharFormat, QChar>> pending_;
};

const char* const kFontTable =
    R"({\fonttbl{\f0\fnil\fcharset0 MS Sans Serif;}{\f1\froman\fcharset2 Symbol;}})";

QString caption(const char* body) {
    return QStringLiteral(R"({\rtf1\ansi\ansicpg1252\deff0)") + QLatin1String(kFontTable) +
           QLatin1String(body) + QStringLiteral(R"(\par })");
}

}  // namespace

std::vector<RichTextRun> parseRichText(const QString& rtf) { return Parser(rtf).parse(); }

QString x2CheckBoxCaption() {
    // A blank, chi and a raised 2.
    return caption(R"(\pard\plain\f0\fs16  {\f1\fs20 c}{\up4 2})");
}

QString x2ValueCaption() {
    // A blank, an X and a raised 2.
    return caption(R"(\pard\plain\f0\fs16  X{\up4 2})");
}

QString purposeCaption() {
    return caption(R"(\pard\plain\f0\fs16 To study the power of {\f1\fs20 c}{\up4 2})"
                   R"( tests of the Hardy-Weinberg hypothesis)");
}

RichTextLabel::RichTextLabel(QWidget* parent) : QWidget(parent) {
    // No background of its own: the parent's shows through.
    setAutoFillBackground(false);
}

RichTextLabel::RichTextLabel(const QString& richText, QWidget* parent) : RichTextLabel(parent) {
    setRichText(richText);
}

void RichTextLabel::setRichText(const QString& richText) {
    richText_ = richText;
    runs_ = parseRichText(richText);
    updateGeometry();
    update();
}

double RichTextLabel::pixelsPerPoint() const { return QFontInfo(font()).pixelSize() / kBasePoints; }

QFont RichTextLabel::fontFor(const RichTextRun& run) const {
    QFont f = font();
    // Fonts other than the two dialog fonts are asked for by name; Qt falls
    // back to a similar one when they are missing.
    if (!run.fontName.isEmpty() && !isSymbolFont(run.fontName) &&
        run.fontName.compare("MS Sans Serif", Qt::CaseInsensitive) != 0 &&
        run.fontName.compare("Microsoft Sans Serif", Qt::CaseInsensitive) != 0) {
        f.setFamilies({run.fontName, font().family()});
    }
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(run.pointSize * pixelsPerPoint()))));
    return f;
}

QSize RichTextLabel::sizeHint() const {
    double width = 0, above = 0, below = 0;
    for (const RichTextRun& run : runs_) {
        const QFontMetricsF metrics(fontFor(run));
        const double raise = run.raise * pixelsPerPoint();
        width += metrics.horizontalAdvance(run.text);
        above = std::max(above, metrics.ascent() + raise);
        below = std::max(below, metrics.descent() - raise);
    }
    return QSize(static_cast<int>(std::ceil(width)),
                 static_cast<int>(std::ceil(above + below)) + kTopInset);
}

void RichTextLabel::paintEvent(QPaintEvent*) {
    if (runs_.empty()) return;
    QPainter painter(this);
    painter.setClipRect(rect());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    // One baseline for the caption, low enough for the tallest raised run.
    double above = 0;
    for (const RichTextRun& run : runs_) {
        const QFontMetricsF metrics(fontFor(run));
        above = std::max(above, metrics.ascent() + run.raise * pixelsPerPoint());
    }
    const double baseline = kTopInset + std::round(above);
    double x = 0;
    for (const RichTextRun& run : runs_) {
        const QFont f = fontFor(run);
        painter.setFont(f);
        const double raise = std::round(run.raise * pixelsPerPoint());
        painter.drawText(QPointF(x, baseline - raise), run.text);
        x += QFontMetricsF(f).horizontalAdvance(run.text);
    }
}

void RichTextLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
        update();
    }
    QWidget::changeEvent(event);
}

}  // namespace zyg
