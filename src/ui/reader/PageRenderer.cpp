#include "ui/reader/PageRenderer.h"

#include "core/Arabic.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "core/PyRegex.h"
#include "core/Settings.h"
#include "core/Theme.h"
#include "ui/kit/RichTextBuilder.h"
#include "ui/reader/Quran.h"
#include "ui/reader/QuranRenderer.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextDocument>

#include <algorithm>
#include <functional>

namespace quorvel {

namespace {

// Sizes relative to the reading size S.
constexpr double kHeadingScale = 1.05;
constexpr double kParagraphSpacingScale = 0.35;

QTextCharFormat withRole(QTextCharFormat format, PageRenderer::Role role)
{
    format.setProperty(TextProperty::pageRole, int(role));
    return format;
}

// The form a paragraph and a title are compared in: the normal form with
// every digit written Latin, so that a heading still matches its title when
// the page shows Arabic-Indic digits.
QString headingForm(const QString& text)
{
    return Arabic::normalize(Arabic::latinDigits(text), true);
}

// The paragraphs of `text` as (start, length), split at the separators the
// document makes paragraphs of.
QList<std::pair<qsizetype, qsizetype>> paragraphs(const QString& text)
{
    QList<std::pair<qsizetype, qsizetype>> out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\n' || text[i] == u'\r' || text[i] == QChar::ParagraphSeparator) {
            out.append({start, i - start});
            start = i + 1;
        }
    }
    return out;
}

// A paragraph this long (in characters of its normal form) is never a heading.
constexpr qsizetype kHeadingLimit = 160;
// How many characters a heading may run past its title (a colon, a number).
constexpr qsizetype kHeadingSlack = 3;

// Whether a paragraph in heading form is one of the titles, or one of them
// followed by a few characters more.
bool isHeading(const QString& form, const QStringList& titles)
{
    if (form.isEmpty() || Characters::count(form, kHeadingLimit) >= kHeadingLimit)
        return false;
    for (const QString& title : titles) {
        if (form == title)
            return true;
        if (form.startsWith(title) &&
            Characters::count(QStringView(form).mid(title.size()), kHeadingSlack) <= kHeadingSlack)
            return true;
    }
    return false;
}

// Rewrites the Quran book's "sura|verse|text" lines as the Quran tab shows
// a verse, its text followed by its numbered mark; returns where the marks
// are, as (start, length).
QList<std::pair<qsizetype, qsizetype>> showVerseLines(QString& text)
{
    QList<std::pair<qsizetype, qsizetype>> marks;
    if (!text.contains(u'|'))
        return marks;
    const QStringList lines = text.split(u'\n');
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out += u'\n';
        const QString& line = lines[i];
        const std::optional<QuranText::VerseLine> verse = QuranText::verseLine(line);
        if (!verse || verse->sura < 1 || verse->sura > QuranText::suraCount || verse->verse < 1) {
            out += line;
            continue;
        }
        out += Characters::trimSpacesAndTabs(QStringView(line).mid(verse->textStart)).toString() + u' ';
        const QString mark = QuranRenderer::verseMark(int(verse->verse));
        marks.append({out.size(), mark.size()});
        out += mark;
    }
    text = out;
    return marks;
}

// Sizes relative to the reading size S.
constexpr double kVerseSeparatorScale = 0.8;
constexpr double kVerseNumberScale = 0.6;
constexpr char kVerseSeparator[] = " ... ";
constexpr char16_t kVerseNumberPattern[] = u"^[0-9\u0660-\u0669]+ ";

// Verse styling only where the page has a hemistich separator: numbers
// opening the lines of prose stay plain.
void markVerses(RichTextBuilder& builder, const QString& text, double size)
{
    const QString separator = QString::fromUtf8(kVerseSeparator);
    bool verses = false;
    const QTextCharFormat separatorChars =
        withRole(RichText::chars(Theme::reader(size * kVerseSeparatorScale, true), Theme::gold()),
                 PageRenderer::Role::verseSeparator);
    for (qsizetype at = text.indexOf(separator); at >= 0; at = text.indexOf(separator, at + separator.size())) {
        builder.merge(at, separator.size(), separatorChars);
        verses = true;
    }
    if (!verses)
        return;
    static const PyRegex::Regex verseNumber =
        PyRegex::compile(QString::fromUtf16(kVerseNumberPattern), PyRegex::Anchors::lines);
    const QTextCharFormat numberChars =
        withRole(RichText::chars(Theme::ui(size * kVerseNumberScale, QFont::Bold), Theme::gold()),
                 PageRenderer::Role::verseNumber);
    for (const PyRegex::Range& match : PyRegex::allMatches(verseNumber, text))
        builder.merge(match.start, match.length, numberChars);
}

// The footnotes' size and line spacing, relative to the text's.
constexpr double kFootnoteScale = 0.78;
constexpr double kFootnoteLineSpacingScale = 0.6;
constexpr double kRuleFontSize = 11;
constexpr double kRuleSpaceBefore = 8;
constexpr double kFootnoteSpaceBefore = 4;
constexpr int kRuleLength = 12;
constexpr char16_t kRuleCharacter = u'─';

// The footnotes under a short rule, smaller and set closer than the text.
void appendFootnotes(RichTextBuilder& builder, const QString& footnotes, const QTextBlockFormat& base,
                     const QTextCharFormat& mainChars, double size, double lineSpacing)
{
    builder.append(QStringLiteral("\n"), mainChars, base);
    QTextBlockFormat rule = RichText::paragraph();
    rule.setTopMargin(kRuleSpaceBefore);
    QFont ruleFont = QGuiApplication::font();
    ruleFont.setPixelSize(int(kRuleFontSize));
    builder.append(QString(kRuleLength, QChar(kRuleCharacter)) + QLatin1Char('\n'),
                   withRole(RichText::chars(ruleFont, Theme::footnoteInk()), PageRenderer::Role::footnoteRule), rule);
    QTextBlockFormat footnoteBlock = base;
    RichText::setLineSpacing(footnoteBlock, lineSpacing * kFootnoteLineSpacingScale);
    footnoteBlock.setTopMargin(kFootnoteSpaceBefore);
    builder.append(footnotes,
                   withRole(RichText::chars(Theme::reader(size * kFootnoteScale), Theme::footnoteInk()),
                            PageRenderer::Role::footnote),
                   footnoteBlock);
}

constexpr double kLabelFontSize = 12;
constexpr double kLabelSpaceBefore = 14;
constexpr char kLabelPage[] = "ص: ";
constexpr char kLabelSeq[] = "تسلسل: ";
constexpr char kLabelVolume[] = "الجزء: ";
constexpr char kLabelJoin[] = " - ";

// The centred label under the page: its volume and number, or its place in
// the book when it has no number.
void appendPageLabel(RichTextBuilder& builder, const Page& page, std::int64_t seq)
{
    QString label = page.num ? QString::fromUtf8(kLabelPage) + Arabic::num(*page.num)
                             : QString::fromUtf8(kLabelSeq) + Arabic::num(seq);
    if (page.vol)
        label = QString::fromUtf8(kLabelVolume) + Arabic::digits(*page.vol) + QString::fromUtf8(kLabelJoin) + label;
    QTextBlockFormat labelBlock = RichText::paragraph(Qt::AlignHCenter);
    labelBlock.setTopMargin(kLabelSpaceBefore);
    builder.append(QStringLiteral("\n[") + label + QLatin1Char(']'),
                   withRole(RichText::chars(Theme::ui(kLabelFontSize), Theme::secondaryLabel()),
                            PageRenderer::Role::pageLabel),
                   labelBlock);
}

constexpr double kNoteFontSize = 14;
constexpr double kNoteSpaceBefore = 12;
constexpr double kNoteIndent = 8;
constexpr std::uint32_t kNoteBackground = 0xF6E7A8;
constexpr double kNoteBackgroundAlphaNight = 0.25;
constexpr double kNoteBackgroundAlphaDay = 0.8;
constexpr char kNotePrefix[] = "\nتعليقي: ";

// The reader's own note on the page, last, on the note colour.
void appendNote(RichTextBuilder& builder, const Note& note)
{
    QTextBlockFormat noteBlock = RichText::paragraph();
    noteBlock.setTopMargin(kNoteSpaceBefore);
    // The head indent sits on the leading side, the right of a
    // right-to-left paragraph.
    noteBlock.setRightMargin(kNoteIndent);
    QTextCharFormat noteChars =
        withRole(RichText::chars(Theme::ui(kNoteFontSize), Theme::ink()), PageRenderer::Role::userNote);
    noteChars.setBackground(
        Theme::rgb(kNoteBackground, Settings::nightReading() ? kNoteBackgroundAlphaNight : kNoteBackgroundAlphaDay));
    builder.append(QString::fromUtf8(kNotePrefix) + note.text, noteChars, noteBlock);
}

} // namespace

QString PageRenderer::versesShown(QString text)
{
    showVerseLines(text);
    return text;
}

QStringList PageRenderer::tocTitles(const QList<TocNodePtr>& roots, std::int64_t seq)
{
    QStringList titles;
    std::function<void(const QList<TocNodePtr>&)> walk = [&](const QList<TocNodePtr>& nodes) {
        for (const TocNodePtr& node : nodes) {
            if (node->seq == seq)
                titles.append(Arabic::normalize(node->title, true));
            walk(node->children);
        }
    };
    walk(roots);
    return titles;
}

QList<Arabic::Range> PageRenderer::hitRanges(const QString& text, const QList<SearchQuery::Term>& highlight,
                                             const QString& findText)
{
    const Arabic::Index index = Arabic::index(text);
    QList<Arabic::Range> found;
    const QString find = findText.trimmed();
    if (!find.isEmpty()) {
        found = Arabic::ranges(Arabic::normalize(find, true), index, Arabic::Match::anywhere);
    } else {
        for (const SearchQuery::Term& term : highlight)
            found += Arabic::ranges(term.first, index, term.second);
    }
    return merge(std::move(found));
}

QList<Arabic::Range> PageRenderer::merge(QList<Arabic::Range> ranges)
{
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const Arabic::Range& a, const Arabic::Range& b) { return a.location < b.location; });
    QList<Arabic::Range> merged;
    for (const Arabic::Range& range : ranges) {
        if (!merged.isEmpty() && range.location <= merged.last().location + merged.last().length) {
            Arabic::Range& last = merged.last();
            const qsizetype end = std::max(last.location + last.length, range.location + range.length);
            last.length = end - last.location;
        } else {
            merged.append(range);
        }
    }
    return merged;
}

PageRenderer::Result PageRenderer::render(const State& state)
{
    const double size = Settings::readerSize();
    const double lineSpacing = Settings::lineSpacing();

    QTextBlockFormat base = RichText::paragraph();
    RichText::setLineSpacing(base, lineSpacing);
    base.setBottomMargin(size * kParagraphSpacingScale);
    const QTextCharFormat mainChars = withRole(RichText::chars(Theme::reader(size), Theme::ink()), Role::main);

    RichTextBuilder builder;
    Result result;

    // A book without a page here: the notice alone, and no hits left over
    // from the page shown before.
    if (!state.page) {
        builder.append(QString::fromUtf8(noPagesText), mainChars, base);
        result.document = builder.take();
        return result;
    }
    const Page& page = *state.page;

    auto [mainText, footnotes] = Library::splitFootnotes(page.content);
    if (!state.tashkeel) {
        mainText = Arabic::stripMarks(mainText);
        if (footnotes)
            footnotes = Arabic::stripMarks(*footnotes);
    }
    const QList<std::pair<qsizetype, qsizetype>> verseMarks = showVerseLines(mainText);
    mainText = Arabic::digits(mainText);
    if (footnotes)
        footnotes = Arabic::digits(*footnotes);
    const bool hasFootnotes = footnotes && !footnotes->isEmpty();
    if (mainText.isEmpty() && !hasFootnotes)
        mainText = QString::fromUtf8(emptyPageText);

    builder.append(mainText, mainChars, base);

    const QStringList titles = [&] {
        QStringList forms;
        for (const QString& title : tocTitles(state.roots, state.seq))
            forms.append(headingForm(title));
        return forms;
    }();
    if (!titles.isEmpty()) {
        const QTextCharFormat heading =
            withRole(RichText::chars(Theme::reader(size * kHeadingScale, true), Theme::heading()), Role::heading);
        for (const auto& [start, length] : paragraphs(mainText)) {
            if (isHeading(headingForm(mainText.mid(start, length)), titles))
                builder.merge(start, length, heading);
        }
    }

    const QTextCharFormat verseMarkChars =
        withRole(RichText::chars(Theme::reader(size), Theme::gold()), Role::verseNumber);
    for (const auto& [start, length] : verseMarks)
        builder.merge(start, length, verseMarkChars);

    markVerses(builder, mainText, size);

    if (hasFootnotes)
        appendFootnotes(builder, *footnotes, base, mainChars, size, lineSpacing);
    appendPageLabel(builder, page, state.seq);
    if (state.note)
        appendNote(builder, *state.note);

    result.hitRanges = hitRanges(builder.text(), state.highlight, state.findText);
    const int count = int(result.hitRanges.size());
    int current = state.hitIndex == lastHit ? std::max(count - 1, 0) : state.hitIndex;
    current = count == 0 ? 0 : std::clamp(current, 0, count - 1);
    result.hitIndex = current;

    QTextCharFormat hit = RichText::chars(Theme::reader(size, true), Theme::hitInk());
    for (int i = 0; i < count; ++i) {
        hit.setBackground(i == current ? Theme::hitCurrent() : Theme::hitMark());
        hit.setProperty(TextProperty::hitIndex, i);
        builder.merge(result.hitRanges[i].location, result.hitRanges[i].length, hit);
    }

    result.document = builder.take();
    return result;
}

} // namespace quorvel
