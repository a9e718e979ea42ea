#include "ui/assistant/AnswerRenderer.h"

#include "assistant/Intent.h"
#include "assistant/Reports.h"
#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/PyRegex.h"
#include "core/Theme.h"
#include "ui/assistant/DataTableText.h"
#include "ui/kit/RichTextBuilder.h"

#include <QGuiApplication>
#include <QHash>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <atomic>
#include <limits>
#include <QPalette>

#include <vector>

namespace quorvel::AnswerRenderer {

namespace {

const QString pieceRouted = QStringLiteral(u" · اختير من صيغة سؤالك");
const QString pieceFollowUp = QStringLiteral(u" · متابعة لسؤالك السابق");
const QString pieceReviewed = QStringLiteral(u" · راجعت ");
const QString pieceData = QStringLiteral(u" · محسوب من فهرس المكتبة مباشرة");
const QString pieceModel = QStringLiteral(u" · كتبه النموذج المحلي");
const QString pieceModelQuotes = QStringLiteral(u" · اقتباسات اختارها النموذج المحلي من المصادر دون كلامه");
const QString tableMarker = QStringLiteral("\nQUORVEL-TABLE-%1\n");
const QString dataExportHint = QStringLiteral(u"صدر الجدول إلى إكسل (CSV) أو وورد أو PDF من زر «تصدير».\n");
// Said after an answer about a ruling; a model's own reply that names the
// mufti already says it.
const QString rulingAdvice = QStringLiteral(u"ولتطبيق ذلك على حالتك بعينها، الأولى سؤال مفت مؤهل أو جهة إفتاء رسمية.");
const QString muftiWord = QStringLiteral(u"مفت");
const QString verbatimLine = QStringLiteral(u"\nكل الاقتباسات منقولة حرفيا من صفحاتها");
const QString verbatimNoModel = QStringLiteral(u"؛ ولتقرير مكتوب نزل النموذج العربي من أعلى الشاشة.");
const QString verbatimModelFile = QStringLiteral(
    u"؛ ولتقرير مكتوب اختر ملف نموذج GGUF من جهازك بالزر أعلى الشاشة (ويلزم برنامج llama-server).");
const QString verifiedLine = QStringLiteral(u"موثق: كل الاقتباسات (%1) طابقت مصادرها");
const QString extractHeading = QStringLiteral(u"ما وجدته في الكتب:\n");
const QString extractsNote = QStringLiteral(
    u"هذه مقتطفات حرفية من الكتب. لإجابة مكتوبة نزل النموذج العربي من أعلى الشاشة (يعمل على جهازك دون اتصال).\n");
const QString extractsNoteModelFile = QStringLiteral(
    u"هذه مقتطفات حرفية من الكتب. لإجابة مكتوبة اختر ملف نموذج GGUF من جهازك بالزر أعلى الشاشة "
    u"(يعمل على جهازك دون اتصال، ويلزمه برنامج llama-server).\n");
const QString sourcesHeading = QStringLiteral(u"\nالمصادر\n");
const QString followUpHeading = QStringLiteral(u"\nاسأل أيضا:  ");
const QString suggestionSeparator = QStringLiteral(u"   ·   ");

const CountedNoun& sources()
{
    static const CountedNoun noun(QStringLiteral(u"مصدر"), QStringLiteral(u"مصدران"), QStringLiteral(u"مصادر"),
                                  QStringLiteral(u"مصدرا"));
    return noun;
}

// Characters of the first passages shown when there are no extracts.
constexpr int kFallbackChars = 260;
constexpr int kFallbackPassages = 3;

QTextCharFormat ui(double size, QFont::Weight weight, const QColor& color)
{
    return RichText::chars(Theme::ui(size, weight), color);
}

// Emerald by day; by night the soft gold, where emerald is lost on the page.
QColor accent() { return Theme::accent().resolve(); }

QTextCharFormat headerStyle() { return ui(12, QFont::Medium, Theme::gold()); }
QTextCharFormat bodyStyle() { return RichText::chars(Theme::reader(19), Theme::ink()); }
QTextCharFormat noteStyle() { return ui(12.5, QFont::Normal, Theme::secondaryLabel()); }
QTextCharFormat tableTitleStyle() { return ui(14, QFont::Bold, Theme::heading()); }
QTextCharFormat extractHeadingStyle() { return ui(14, QFont::Bold, accent()); }
QTextCharFormat sectionHeadingStyle() { return ui(13, QFont::Bold, Theme::gold()); }
QTextCharFormat suggestionStyle() { return ui(13, QFont::Medium, accent()); }
QTextCharFormat headingStyle() { return RichText::chars(Theme::reader(22, true), Theme::heading()); }
QTextCharFormat citationStyle() { return ui(13, QFont::Bold, accent()); }

QTextCharFormat verificationStyle(bool verified)
{
    return ui(12.5, QFont::Medium, verified ? accent() : Theme::hit());
}

QTextCharFormat link(QTextCharFormat format, const QString& href)
{
    format.setAnchor(true);
    format.setAnchorHref(href);
    return format;
}

// The words a citation of `passage` points at: the quotation «…» that ends
// just before the citation at `at` in `s`, else the passage's excerpt without
// the marks of where it was cut.
QString citedWords(const Passage& passage, const QString& s = {}, qsizetype at = 0)
{
    qsizetype end = at - 1;
    while (end >= 0 && s[end].isSpace())
        --end;
    if (end > 0 && s[end] == u'»') {
        const qsizetype start = s.lastIndexOf(u'«', end);
        if (start >= 0 && end - start > 1)
            return s.mid(start + 1, end - start - 1).trimmed();
    }
    QString excerpt = passage.text.trimmed();
    static const QString cut = QStringLiteral("…");
    if (excerpt.startsWith(cut))
        excerpt.remove(0, cut.size());
    if (excerpt.endsWith(cut))
        excerpt.chop(cut.size());
    return excerpt.trimmed();
}

// A decimal integer in ASCII digits with an optional sign; other digits fail.
std::optional<long long> asciiInteger(QStringView s)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i == s.size())
        return std::nullopt;
    long long value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return std::nullopt;
        if (value > (std::numeric_limits<long long>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + (s[i].unicode() - u'0');
    }
    return negative ? -value : value;
}

const PyRegex::Regex& citationPattern()
{
    static const PyRegex::Regex re = PyRegex::compile(QStringLiteral(u"\\[(\\d+)\\]"));
    return re;
}

// Everything the answer shows, page quotations included, writes its numbers
// as the reader writes the page's: the quotation stays verbatim but for them.
void append(RichTextBuilder& out, const QString& text, const QTextCharFormat& format)
{
    out.append(Arabic::digits(text), format, paragraph());
}

QString firstCharacters(const QString& text, int n)
{
    return text.left(Characters::endOfFirst(text, n));
}

// A chart document with its image renamed to `name`, so that several charts
// can live in one transcript.
void renameChart(QTextDocument& chart, const QString& name)
{
    for (QTextBlock block = chart.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            if (!format.isImageFormat() || format.toImageFormat().name() != DataQA::chartResource)
                continue;
            QTextImageFormat image = format.toImageFormat();
            image.setName(name);
            QTextCursor cursor(&chart);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
}

void renderTables(RichTextBuilder& out, const AIAnswer& answer, const Options& options)
{
    for (qsizetype i = 0; i < answer.tables.size(); ++i) {
        const DataTable& table = answer.tables[i];
        if (options.docxMarkers) {
            // The export finds its marker by the Latin number.
            out.append(tableMarker.arg(i), noteStyle(), paragraph());
            continue;
        }
        append(out, u'\n' + table.title + u'\n', tableTitleStyle());
        // Paper takes the day ink; the screen the ink of the appearance in force.
        const bool night = !options.exporting && Theme::isDark();
        const QColor chartInk = night ? Theme::chartInk().dark() : Theme::chartInk().light();
        if (std::unique_ptr<QTextDocument> chart = DataQA::chartString(table, chartInk, night)) {
            // Each answer's charts get names of their own in the transcript.
            static std::atomic<int> charts{0};
            const QString name = DataQA::chartResource + u'-' + QString::number(++charts);
            const QVariant image = chart->resource(QTextDocument::ImageResource, QUrl(DataQA::chartResource));
            renameChart(*chart, name);
            out.document()->addResource(QTextDocument::ImageResource, QUrl(name), image);
            out.appendDocument(*chart);
        }
        out.appendDocument(*DataQA::tableString(table, Theme::ink()));
        if (table.note)
            append(out, *table.note + u'\n', noteStyle());
    }
}

} // namespace

QTextBlockFormat paragraph()
{
    QTextBlockFormat format = RichText::paragraph();
    RichText::setLineSpacing(format, 8);
    format.setBottomMargin(6);
    return format;
}

QString pageLink(long long bookId, long long seq, const QString& words)
{
    QString out = QString::fromLatin1(pageLinkPrefix) + QString::number(bookId) + u'/' + QString::number(seq);
    if (const std::optional<QString> tail = percentEncoded(words); tail && !tail->isEmpty())
        out += u'#' + *tail;
    return out;
}

QString askLink(const QString& question)
{
    return QString::fromLatin1(askLinkPrefix) + percentEncoded(question).value_or(QString());
}

std::optional<QString> percentEncoded(const QString& text)
{
    static const char hex[] = "0123456789ABCDEF";
    QString tail;
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text[i];
        char32_t code = c.unicode();
        qsizetype width = 1;
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, text[i + 1]);
            width = 2;
        } else if (c.isSurrogate()) {
            return std::nullopt; // a lone surrogate cannot be encoded
        }
        const QString piece = text.mid(i, width);
        if (QChar::isLetter(code) || QChar::isMark(code) || QChar::isNumber(code)) {
            tail += piece;
        } else {
            for (unsigned char byte : piece.toUtf8()) {
                tail += u'%';
                tail += QChar(hex[byte >> 4]);
                tail += QChar(hex[byte & 15]);
            }
        }
        i += width;
    }
    return tail;
}

std::optional<QString> percentDecoded(const QString& tail)
{
    QByteArray bytes;
    const QByteArray utf8 = tail.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes += utf8[i];
            continue;
        }
        if (i + 2 >= utf8.size())
            return std::nullopt;
        bool ok = false;
        const int value = utf8.mid(i + 1, 2).toInt(&ok, 16);
        if (!ok || !isxdigit(static_cast<unsigned char>(utf8[i + 1]))
            || !isxdigit(static_cast<unsigned char>(utf8[i + 2])))
            return std::nullopt;
        bytes += char(value);
        i += 2;
    }
    QString text = QString::fromUtf8(bytes);
    // Invalid UTF-8 decodes with replacement characters: then it was not text.
    if (text.toUtf8() != bytes)
        return std::nullopt;
    return text;
}

void styledAnswer(RichTextBuilder& out, const QString& text, const AIAnswer& answer, const QTextCharFormat& base)
{
    static const PyRegex::Regex headingPattern
        = PyRegex::compile(QStringLiteral(u"^#{1,3}\\s*(.+)$"), PyRegex::Anchors::lines);
    static const PyRegex::Regex quotationPattern = PyRegex::compile(QStringLiteral(u"«[^»]+»"));

    // Headings: the hash signs go, the heading's text takes the heading style.
    enum Style : char { plain, heading };
    QString s;
    std::vector<char> style;
    qsizetype at = 0;
    for (const PyRegex::Match& m : PyRegex::allMatchesWithGroups(headingPattern, text)) {
        s += text.mid(at, m.whole.start - at);
        style.resize(s.size(), plain);
        const PyRegex::Range group = *m.groups.value(0);
        s += text.mid(group.start, group.length);
        style.resize(s.size(), heading);
        at = m.whole.end();
    }
    s += text.mid(at);
    style.resize(s.size(), plain);

    std::vector<char> quoted(s.size(), 0);
    for (const PyRegex::Range& r : PyRegex::allMatches(quotationPattern, s))
        std::fill(quoted.begin() + r.start, quoted.begin() + r.end(), 1);

    QHash<long long, const Passage*> byNumber;
    for (const Passage& p : answer.passages)
        byNumber.insert(p.n, &p);

    QTextCharFormat quotation;
    QColor tint = Theme::emerald();
    tint.setAlphaF(0.08f);
    quotation.setBackground(tint);

    // Runs of equal style, with every citation naming a passage in between.
    auto write = [&](qsizetype from, qsizetype to) {
        qsizetype i = from;
        while (i < to) {
            qsizetype j = i + 1;
            while (j < to && style[j] == style[i] && quoted[j] == quoted[i])
                ++j;
            QTextCharFormat format = style[i] == heading ? headingStyle() : base;
            if (quoted[i])
                format.merge(quotation);
            append(out, s.mid(i, j - i), format);
            i = j;
        }
    };
    qsizetype done = 0;
    for (const PyRegex::Match& m : PyRegex::allMatchesWithGroups(citationPattern(), s)) {
        const PyRegex::Range group = *m.groups.value(0);
        const std::optional<long long> n = asciiInteger(QStringView(s).sliced(group.start, group.length));
        const Passage* passage = n ? byNumber.value(*n) : nullptr;
        if (!passage)
            continue;
        write(done, m.whole.start);
        QTextCharFormat format =
            link(citationStyle(), pageLink(passage->bookId, passage->seq, citedWords(*passage, s, m.whole.start)));
        format.setToolTip(passage->citation());
        append(out, u'[' + Arabic::num(passage->n) + u']', format);
        done = m.whole.end();
    }
    write(done, s.size());
}

void render(RichTextBuilder& out, const AIAnswer& a, const Options& options)
{
    // 1. The header line.
    QString header = a.mode.title();
    if (a.routed)
        header += pieceRouted;
    if (a.followUp)
        header += pieceFollowUp;
    if (!a.passages.isEmpty())
        header += pieceReviewed + sources().count(a.passages.size(), CountedNoun::Case::accusative);
    if (a.mode == AIMode::data)
        header += pieceData;
    if (a.tier == 1)
        header += a.quotesOnly ? pieceModelQuotes : pieceModel;
    append(out, header + u'\n', headerStyle());

    // 2. The body.
    if (a.tier == 0 && a.structured && !a.text.isEmpty()) {
        styledAnswer(out, a.text, a, bodyStyle());
        renderTables(out, a, options);
        if (!a.tables.isEmpty() && a.mode == AIMode::data && !options.exporting)
            append(out, dataExportHint, noteStyle());
        if (a.isRuling)
            append(out, u'\n' + rulingAdvice + u'\n', bodyStyle());
        if (a.note)
            append(out, u'\n' + *a.note + u'\n', noteStyle());
        if (!a.passages.isEmpty()) {
            const bool missing = a.mode.usesModel() && !options.hasModel;
            const QString invitation = options.canDownloadModel ? verbatimNoModel : verbatimModelFile;
            append(out, verbatimLine + (missing ? invitation : QStringLiteral(".")) + u'\n', noteStyle());
        }
    } else if (a.tier == 1 && !a.text.isEmpty()) {
        QString s = a.text;
        if (a.isRuling && !s.contains(muftiWord))
            s += QStringLiteral("\n\n") + rulingAdvice;
        styledAnswer(out, s, a, bodyStyle());
        QString check;
        if (a.verifiedAll && a.quoteCount >= 1) {
            check = verifiedLine.arg(Arabic::num(a.quoteCount));
            // What was left out of the reply, or that the reader stopped it,
            // is said beside the verification.
            if (a.note)
                check += u'\n' + *a.note;
        } else if (a.note) {
            check = *a.note;
        }
        if (!check.isEmpty())
            append(out, u'\n' + check + u'\n', verificationStyle(a.verifiedAll));
    } else if (a.passages.isEmpty()) {
        append(out, a.text + u'\n', bodyStyle());
    } else {
        append(out, extractHeading, extractHeadingStyle());
        QList<ExtractedSentence> items = a.extractive;
        if (items.isEmpty()) {
            for (qsizetype i = 0; i < qMin<qsizetype>(kFallbackPassages, a.passages.size()); ++i)
                items.append({firstCharacters(a.passages[i].text, kFallbackChars), a.passages[i].n});
        }
        for (const ExtractedSentence& item : std::as_const(items))
            styledAnswer(out, u'«' + item.text + QStringLiteral(u"» [") + QString::number(item.n) + QStringLiteral("]\n"),
                         a, bodyStyle());
        if (a.isRuling)
            append(out, rulingAdvice + u'\n', bodyStyle());
        if (a.note)
            append(out, *a.note + u'\n', noteStyle());
        if (!options.hasModel)
            append(out, options.canDownloadModel ? extractsNote : extractsNoteModelFile, noteStyle());
    }

    // 3. The numbers the body cites.
    QString cited;
    if (a.tier == 1 || a.structured) {
        cited = a.text;
    } else {
        for (const ExtractedSentence& item : a.extractive)
            cited += u'[' + QString::number(item.n) + u']';
    }
    QSet<long long> numbers;
    for (const PyRegex::Match& m : PyRegex::allMatchesWithGroups(citationPattern(), cited)) {
        const PyRegex::Range group = *m.groups.value(0);
        if (const auto n = asciiInteger(QStringView(cited).sliced(group.start, group.length)))
            numbers.insert(*n);
    }

    // 4. The sources, in the answer's order. Books of one title carry what
    // tells them apart, unless it is the author the citation names anyway.
    QList<long long> citedBooks;
    QList<BookTitles::Entry> citedEntries;
    for (const Passage& p : a.passages) {
        if (!numbers.contains(p.n) || citedBooks.contains(p.bookId))
            continue;
        citedBooks.append(p.bookId);
        citedEntries.append({p.bookTitle, p.author, p.edition.value_or(QString())});
    }
    QList<QString> notes = BookTitles::notes(citedEntries);
    if (options.catalog) {
        const QString separator = QString::fromUtf16(BookTitles::separator);
        for (qsizetype i = 0; i < citedBooks.size(); ++i) {
            const QString full = BookTitles::label(*options.catalog, citedBooks[i]);
            const QString& title = citedEntries[i].title;
            if (full.startsWith(title + separator))
                notes[i] = full.mid(title.size() + separator.size());
        }
    }
    bool headed = false;
    for (const Passage& p : a.passages) {
        if (!numbers.contains(p.n))
            continue;
        if (!headed) {
            append(out, sourcesHeading, sectionHeadingStyle());
            headed = true;
        }
        Passage shown = p;
        const QString& note = notes[citedBooks.indexOf(p.bookId)];
        if (note != p.author)
            shown.bookTitle = BookTitles::label(p.bookTitle, note);
        append(out, u'[' + Arabic::num(p.n) + QStringLiteral("] ") + shown.citation(),
               link(noteStyle(), pageLink(p.bookId, p.seq, citedWords(p))));
        append(out, QStringLiteral("\n"), noteStyle());
    }

    // 5. Follow-up questions.
    const QStringList suggestions = Intent::suggestions(a.mode, a.topic);
    if (!suggestions.isEmpty() && !a.passages.isEmpty()) {
        append(out, followUpHeading, sectionHeadingStyle());
        for (qsizetype i = 0; i < suggestions.size(); ++i) {
            append(out, suggestions[i], link(suggestionStyle(), askLink(suggestions[i])));
            if (i + 1 < suggestions.size())
                append(out, suggestionSeparator, noteStyle());
        }
        append(out, QStringLiteral("\n"), noteStyle());
    }

    // 6.
    append(out, QStringLiteral("\n"), noteStyle());
}

} // namespace quorvel::AnswerRenderer
