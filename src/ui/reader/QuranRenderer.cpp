#include "ui/reader/QuranRenderer.h"

#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "core/CountedNoun.h"
#include "core/Theme.h"
#include "ui/reader/Quran.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>

#include <algorithm>
#include <tuple>

namespace quorvel {

namespace {

// Sizes relative to the reading size S.
constexpr double kHeadingExtra = 15;
constexpr double kBasmalaExtra = 7;
constexpr double kVerseExtra = 5;
constexpr double kPlainMarkScale = 0.82;
constexpr double kLineSpacingExtra = 8;

constexpr double kCountSize = 12;
constexpr double kResultHeaderSize = 14;
constexpr double kCitationSize = 13;

constexpr double kHeadingSpacing = 6;
constexpr double kBasmalaSpacing = 10;
constexpr double kResultHeaderSpacing = 14;
constexpr double kCitationSpacing = 16;

// The page margins around the text, the same on every line.
constexpr double kInsetHorizontal = 48;
constexpr double kInsetVertical = 26;

constexpr char kSuraPrefix[] = "سورة ";
constexpr char kNoResults[] = "لا آية تطابق البحث\n";
constexpr char kMatchVerb[] = " تطابق «";
constexpr char kLimitNote[] = " (يعرض أول %1)";
constexpr char kClickHint[] = " · انقر آية للانتقال إليها";

constexpr char16_t kUthmaniMark = u'\u06DD';
// A search word of a skeleton this long may be found inside a verse word.
constexpr qsizetype kLongSkeleton = 3;
constexpr char16_t kOrnateOpen = u'\uFD3F';
constexpr char16_t kOrnateClose = u'\uFD3E';

QTextBlockFormat style(Qt::Alignment alignment, double spacing, double lineSpacing)
{
    QTextBlockFormat format = RichText::paragraph(alignment);
    RichText::setLineSpacing(format, lineSpacing + kLineSpacingExtra);
    format.setBottomMargin(spacing);
    return format;
}

// Arabic-Indic digits whatever the digit preference.
QString indicNumber(int n)
{
    QString out = QString::number(n);
    for (QChar& c : out)
        c = QChar(char16_t(0x0660 + (c.unicode() - u'0')));
    return out;
}

QTextCharFormat keyed(QTextCharFormat format, int i)
{
    format.setProperty(TextProperty::ayahKey, i);
    return format;
}

} // namespace

bool QuranRenderer::uthmaniShown() const
{
    return state_.uthmaniWanted && state_.uthmani && !state_.uthmani->isEmpty();
}

QString QuranRenderer::display(int i) const
{
    const Ayah& v = state_.q->ayat.at(i);
    if (uthmaniShown()) {
        const auto found = state_.uthmani->constFind(QuranText::key(v.sura, v.n));
        if (found != state_.uthmani->constEnd())
            return *found;
        return v.text;
    }
    // The library's Quran may be in the Uthmani script itself: the plain
    // spelling is derived from it.
    return Arabic::plainSpelling(v.text);
}

QString QuranRenderer::ayatCount(qsizetype count)
{
    static const CountedNoun ayat(QStringLiteral(u"آية"), QStringLiteral(u"آيتان"), QStringLiteral(u"آيات"),
                                  QStringLiteral(u"آية"));
    return ayat.count(count);
}

void QuranRenderer::addRange(int i, qsizetype start, qsizetype length)
{
    if (length <= 0)
        return;
    QList<std::pair<int, int>>& list = ranges_[i];
    // Adjacent runs of one verse (its body and its mark) make one range.
    if (!list.isEmpty() && list.last().first + list.last().second == start)
        list.last().second += int(length);
    else
        list.append({int(start), int(length)});
}

QString QuranRenderer::verseMark(int n)
{
    return QChar(kOrnateOpen) + Arabic::num(n) + QChar(kOrnateClose);
}

void QuranRenderer::ayahString(RichTextBuilder& out, int i, bool marks)
{
    const Ayah& v = state_.q->ayat.at(i);
    const double size = state_.readerSize + kVerseExtra;
    const bool uthmani = uthmaniShown();
    const QTextBlockFormat verse = style(Qt::AlignJustify, 0, state_.lineSpacing);
    const QFont font = uthmani ? Theme::quran(size) : Theme::reader(size);

    const QString body = display(i);
    const qsizetype start = out.length();
    out.append(body, keyed(RichText::chars(font, Theme::ink()), i), verse);

    if (marks && !state_.terms.isEmpty()) {
        QStringList skeletons;
        QStringList shortWords;
        for (const QString& term : state_.terms) {
            const QString s = QuranText::skel(term);
            if (s.size() >= kLongSkeleton)
                skeletons.append(s);
            else if (!s.isEmpty())
                shortWords.append(QuranText::fold(term));
        }
        // A long word is found inside a verse word (an article or a pronoun
        // around it); a short one, whose skeleton («ل» of «لا») lies in half
        // the verse's words, only as the whole word, or after «و» or «ف».
        auto holds = [&](const QString& piece) {
            const QString own = QuranText::skel(piece);
            if (own.isEmpty())
                return false;
            if (std::any_of(skeletons.cbegin(), skeletons.cend(), [&](const QString& s) { return own.contains(s); }))
                return true;
            const QString word = QuranText::fold(piece);
            return std::any_of(shortWords.cbegin(), shortWords.cend(), [&](const QString& w) {
                return word == w || word == u'و' + w || word == u'ف' + w;
            });
        };
        if (!skeletons.isEmpty() || !shortWords.isEmpty()) {
            QTextCharFormat mark;
            mark.setBackground(Theme::hitMark());
            mark.setForeground(Theme::hitInk());
            qsizetype offset = 0;
            for (const QString& piece : body.split(u' ')) {
                if (holds(piece))
                    out.merge(start + offset, piece.size(), mark);
                offset += piece.size() + 1;
            }
        }
    }

    QString mark;
    QTextCharFormat markChars;
    if (uthmani) {
        mark = QStringLiteral(" ") + kUthmaniMark + indicNumber(v.n) + u' ';
        markChars = RichText::chars(Theme::quran(size), Theme::verseMark());
    } else {
        mark = QStringLiteral(" ") + verseMark(v.n) + u' ';
        markChars = RichText::chars(Theme::reader(size * kPlainMarkScale), Theme::verseMark());
    }
    out.append(mark, keyed(markChars, i), verse);
    addRange(i, start, out.length() - start);
}

void QuranRenderer::renderSura(RichTextBuilder& out)
{
    const QuranText& q = *state_.q;
    const int s = std::clamp(state_.sura, 1, QuranText::suraCount);
    const QTextBlockFormat heading = style(Qt::AlignHCenter, kHeadingSpacing, state_.lineSpacing);
    out.append(QString::fromUtf8(kSuraPrefix) + QuranText::name(s) + u'\n',
               RichText::chars(Theme::reader(state_.readerSize + kHeadingExtra, true), Theme::heading()), heading);
    out.append(ayatCount(q.count(s)) + u'\n',
               RichText::chars(Theme::ui(kCountSize), Theme::secondaryLabel()), heading);
    if (s != 1 && s != 9) {
        const double size = state_.readerSize + kBasmalaExtra;
        const bool uthmani = uthmaniShown() && QuranText::uthmaniBasmala();
        const QString text = uthmani ? *QuranText::uthmaniBasmala() : QuranText::basmala();
        out.append(text + u'\n', RichText::chars(uthmani ? Theme::quran(size) : Theme::reader(size), Theme::ink()),
                   style(Qt::AlignHCenter, kBasmalaSpacing, state_.lineSpacing));
    }
    const int first = q.suraStart[s - 1];
    for (int i = first; i < first + q.count(s); ++i)
        ayahString(out, i, false);
}

void QuranRenderer::renderResults(RichTextBuilder& out)
{
    const QList<int>& results = *state_.results;
    const qsizetype c = results.size();
    out.append(c == 0 ? QString::fromUtf8(kNoResults) : QStringLiteral("\n"),
               RichText::chars(Theme::ui(kResultHeaderSize), Theme::secondaryLabel()),
               style(RichText::right, kResultHeaderSpacing, state_.lineSpacing));
    const QTextBlockFormat citation = style(RichText::right, kCitationSpacing, state_.lineSpacing);
    const QTextCharFormat citationChars = RichText::chars(Theme::ui(kCitationSize, QFont::Medium), Theme::accent().resolve());
    for (qsizetype k = 0; k < std::min<qsizetype>(c, resultLimit); ++k) {
        const int i = results[k];
        ayahString(out, i, true);
        const qsizetype start = out.length();
        out.append(u' ' + state_.q->cite(i) + u'\n', keyed(citationChars, i), citation);
        addRange(i, start, out.length() - start);
    }
    resultStatus_ = ayatCount(c) + QString::fromUtf8(kMatchVerb) + state_.searchText + u'»';
    if (c > resultLimit)
        resultStatus_ += QString::fromUtf8(kLimitNote).arg(Arabic::num(resultLimit));
    resultStatus_ += QString::fromUtf8(kClickHint);
}

std::unique_ptr<QTextDocument> QuranRenderer::render()
{
    Q_ASSERT(state_.q);
    ranges_.clear();
    resultStatus_.clear();
    RichTextBuilder out;
    if (state_.results)
        renderResults(out);
    else
        renderSura(out);
    std::unique_ptr<QTextDocument> document = out.take();
    QTextFrameFormat frame = document->rootFrame()->frameFormat();
    frame.setLeftMargin(kInsetHorizontal);
    frame.setRightMargin(kInsetHorizontal);
    frame.setTopMargin(kInsetVertical);
    frame.setBottomMargin(kInsetVertical);
    document->rootFrame()->setFrameFormat(frame);
    if (!state_.results)
        restyle(*document, state_.selected);
    return document;
}

void QuranRenderer::restyle(QTextDocument& document, const QList<int>& verses)
{
    QTextCursor cursor(&document);
    // One edit block: the text is laid out again once, not per run or verse.
    cursor.beginEditBlock();
    for (const int i : verses)
        restyleVerse(cursor, i);
    cursor.endEditBlock();
}

void QuranRenderer::restyleVerse(QTextCursor& cursor, int i)
{
    const auto found = ranges_.constFind(i);
    if (found == ranges_.constEnd())
        return;
    const QTextDocument& document = *cursor.document();
    const bool selected = i == state_.selected && !state_.results;
    for (const auto& [start, length] : *found) {
        if (selected) {
            QTextCharFormat format;
            format.setBackground(Theme::pageHighlight());
            cursor.setPosition(start);
            cursor.setPosition(start + length, QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(format);
            continue;
        }
        // Clearing the property, not painting the page colour: the text then
        // takes whatever background the view has. Fragments are gathered
        // first, since changing them splits the list.
        QList<std::tuple<int, int, QTextCharFormat>> cleared;
        for (QTextBlock block = document.findBlock(start); block.isValid() && block.position() < start + length;
             block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const int from = std::max(fragment.position(), start);
                const int to = std::min(fragment.position() + fragment.length(), start + length);
                if (from >= to || !fragment.charFormat().hasProperty(QTextFormat::BackgroundBrush))
                    continue;
                QTextCharFormat format = fragment.charFormat();
                format.clearBackground();
                cleared.append({from, to, format});
            }
        }
        for (const auto& [from, to, format] : cleared) {
            cursor.setPosition(from);
            cursor.setPosition(to, QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

} // namespace quorvel
