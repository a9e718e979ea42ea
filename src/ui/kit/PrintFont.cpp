#include "ui/kit/PrintFont.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QHash>
#include <QRawFont>
#include <QSet>
#include <QTextLayout>
#include <QTextOption>

namespace quorvel::PrintFont {

namespace {

// Faces tried, in order, when the reader's own font cannot carry its text
// into a PDF: a book face, then one nearly every system has.
constexpr const char* kPrintFaces[] = {"KacstNaskh", "DejaVu Sans"};
// Joined letters in every position, as a page has them.
constexpr char kJoiningProbe[] = "بسم الله الرحمن الرحيم قال حدثنا محمد بن عبد الله عن أبيه";

// The glyphs a font's character map reaches from the space, the Arabic
// letters and their presentation forms.
QSet<quint32> arabicGlyphs(const QRawFont& font)
{
    QString letters(QLatin1Char(' '));
    for (char16_t c = 0x0600; c <= 0x06FF; ++c)
        letters.append(QChar(c));
    for (char16_t c = 0xFB50; c <= 0xFDFF; ++c)
        letters.append(QChar(c));
    for (char16_t c = 0xFE70; c <= 0xFEFF; ++c)
        letters.append(QChar(c));
    const QList<quint32> glyphs = font.glyphIndexesForString(letters);
    return QSet<quint32>(glyphs.begin(), glyphs.end());
}

} // namespace

// Whether Arabic set in `font` can be read back out of the PDF (searched,
// copied, read aloud). The PDF writer names the letter behind a glyph only
// through the font's character map, so a face whose joined forms are
// reachable there alone keeps its text; other faces leave a PDF of shapes.
bool carriesText(const QFont& font)
{
    static QHash<QString, bool> known;
    const QString key = font.family() + QLatin1Char('/') + QString::number(font.weight()) +
                        QLatin1Char('/') + QString::number(font.italic());
    if (const auto found = known.constFind(key); found != known.constEnd())
        return *found;
    QTextLayout layout(QString::fromUtf8(kJoiningProbe), font);
    QTextOption option;
    option.setTextDirection(Qt::RightToLeft);
    layout.setTextOption(option);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    bool carries = true;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QSet<quint32> reachable = arabicGlyphs(run.rawFont());
        for (quint32 glyph : run.glyphIndexes()) {
            if (!reachable.contains(glyph)) {
                carries = false;
                break;
            }
        }
    }
    known.insert(key, carries);
    return carries;
}

// The face a PDF sets text in, at a size in points: the one asked for when
// it keeps its text, else the first print face that does.
QFont printFont(const QFont& wanted, double points)
{
    QFont face = wanted;
    if (!carriesText(wanted)) {
        for (const char* family : kPrintFaces) {
            QFont other(QString::fromLatin1(family));
            other.setWeight(wanted.weight());
            if (QFontDatabase::hasFamily(other.family()) && carriesText(other)) {
                face = other;
                break;
            }
        }
    }
    // The theme sizes fonts in screen pixels; print sizes are points.
    face.setPointSizeF(points);
    return face;
}

} // namespace quorvel::PrintFont
