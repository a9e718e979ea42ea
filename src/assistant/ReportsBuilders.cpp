#include "assistant/Reports.h"

#include "assistant/Intent.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/DistFetch.h"
#include "core/Library.h"
#include "search/SearchEngine.h"

#include <algorithm>
#include <functional>

namespace quorvel::Reports {

namespace {

const QString summaryHeading = QStringLiteral("## خلاصة النموذج\n");
const QString chatFailedNote = QStringLiteral("تعذر الاتصال بالنموذج؛ يعرض التقرير المبني من نصوص الكتب حرفيا.");
const QString stoppedNote = QStringLiteral("أوقفتَ كتابة الخلاصة؛ يعرض التقرير المبني من نصوص الكتب حرفيا.");
const QString rejectedNote = QStringLiteral(
    "لم تجتز خلاصة النموذج فحص المصادر، فيعرض التقرير المبني من نصوص الكتب حرفيا.");

// `titles`: what each book shows, its edition told apart where another
// book of the report shares its title.
QString citedLine(const QString& q, const Passage& p, const QHash<std::int64_t, QString>& titles)
{
    return QStringLiteral("- ") + whereFrom(p, titles.value(p.bookId, p.bookTitle)) + QStringLiteral(": ") + quote(q, p)
        + u'\n';
}

bool isQuoteTrimmed(QChar c) { return c == u' ' || c == QChar(0x2026) || c == u'\n' || c == u'\r' || c == u'\t'; }

// What the model is asked about each report.
QString modelQuestion(AIMode mode, const QString& q)
{
    switch (mode) {
    case AIMode::views:
        return QStringLiteral("ما أقوال العلماء في ") + q + QStringLiteral("؟ اذكر كل قول وصاحبه.");
    case AIMode::biography:
        return QStringLiteral("من هو ") + Intent::person(q) + QStringLiteral("؟ اذكر اسمه ونسبه ووفاته ومكانته.");
    case AIMode::term:
        return QStringLiteral("ما معنى ") + q + u'؟';
    case AIMode::history:
        return QStringLiteral("كيف تناول العلماء ") + q + QStringLiteral(" عبر العصور؟");
    default:
        return q;
    }
}

} // namespace

// ---- Tables ------------------------------------------------------------------

const QString& notFound()
{
    static const QString text =
        QStringLiteral("لم أجد في المصادر المتاحة ما يكفي لهذا التقرير. جرب صياغة أخرى أو كلمات أوضح.");
    return text;
}

const QStringList& lexiconKeys()
{
    static const QStringList words{QStringLiteral("معاجم"), QStringLiteral("المعاجم"), QStringLiteral("الغريب"),
                                   QStringLiteral("اللغة"), QStringLiteral("النحو"),   QStringLiteral("مصطلح"),
                                   QStringLiteral("المصطلح")};
    return words;
}

const QStringList& tarajimKeys()
{
    static const QStringList words{QStringLiteral("تراجم"), QStringLiteral("طبقات"), QStringLiteral("رجال"),
                                   QStringLiteral("أنساب"), QStringLiteral("الأنساب"), QStringLiteral("وفيات"),
                                   QStringLiteral("أعلام"), QStringLiteral("الضعفاء")};
    return words;
}

// ---- Shared operations ---------------------------------------------------------

QStringList keys(const QString& q)
{
    // An article dropped from a key only when the rest is still a word.
    constexpr int kArticleKeyChars = 5;
    QStringList out;
    for (const QString& t : AIAssistant::terms(q)) {
        if (t.startsWith(QStringLiteral("ال")) && Characters::count(t, kArticleKeyChars) >= kArticleKeyChars)
            out << t.mid(2);
        else
            out << t;
    }
    return out;
}

namespace {

// The passages that hold enough of `keyCount` keys by `held` (how many a
// passage holds): all of one or two keys, three quarters of more.
QList<Passage> holdingMostKeys(const QList<Passage>& passages, qsizetype keyCount,
                               const std::function<qsizetype(const Passage&)>& held)
{
    const qsizetype need = keyCount < 3 ? keyCount : (3 * keyCount + 3) / 4;
    QList<Passage> kept;
    for (const Passage& p : passages) {
        if (held(p) >= need)
            kept << p;
    }
    return kept;
}

} // namespace

QList<Passage> relevant(const QString& q, const QList<Passage>& passages)
{
    const QStringList k = keys(q);
    if (k.isEmpty())
        return passages;
    return holdingMostKeys(passages, k.size(), [&](const Passage& p) {
        const QString norm = Arabic::normalize(p.text);
        return std::count_if(k.begin(), k.end(), [&](const QString& key) { return norm.contains(key); });
    });
}

QList<Passage> holdingWords(const QString& q, const QList<Passage>& passages)
{
    const QStringList k = keys(q);
    if (k.isEmpty())
        return passages;
    QList<std::shared_ptr<const Arabic::FormSet>> forms;
    for (const QString& key : k)
        forms << Arabic::affixForms(key);
    return holdingMostKeys(passages, k.size(), [&](const Passage& p) {
        const QStringList words = Arabic::tokens(p.text);
        return std::count_if(forms.begin(), forms.end(), [&](const auto& f) {
            return std::any_of(words.begin(), words.end(), [&](const QString& w) { return f->contains(w); });
        });
    });
}

QList<Passage> renumber(QList<Passage> passages)
{
    for (int i = 0; i < passages.size(); ++i)
        passages[i].n = i + 1;
    return passages;
}

QList<Passage> chrono(QList<Passage> passages)
{
    std::stable_sort(passages.begin(), passages.end(), [](const Passage& a, const Passage& b) {
        const auto ka = std::make_pair(a.death.value_or(Library::undatedYear), a.n);
        const auto kb = std::make_pair(b.death.value_or(Library::undatedYear), b.n);
        return ka < kb;
    });
    return renumber(std::move(passages));
}

QString century(std::optional<std::int64_t> year)
{
    // Above this year the century is written as a number.
    constexpr std::int64_t kNamedCenturiesUpTo = 1500;
    if (!year || *year < 1)
        return QStringLiteral("غير محدد الوفاة");
    const std::int64_t c = (*year - 1) / 100 + 1;
    const QString name = *year <= kNamedCenturiesUpTo ? centuryNames()[c] : Arabic::num(c);
    return QStringLiteral("القرن ") + name + QStringLiteral(" الهجري");
}

QString who(const Passage& p)
{
    if (!p.author.isEmpty())
        return p.author;
    if (p.death && *p.death > 1)
        return p.bookTitle + QStringLiteral(" (ت ") + Arabic::num(*p.death) + u')';
    return p.bookTitle;
}

QString whereFrom(const Passage& p, const QString& title)
{
    // A verse is cited by its sura and number: the book would name itself twice.
    if (!p.verses.isEmpty())
        return title + QStringLiteral(" (") + p.verses + u')';
    return who(p) + QStringLiteral(" في «") + title + u'»';
}

QString quote(const QString& q, const Passage& p, const std::optional<QString>& containing)
{
    // The window quoted when no sentence of a passage can be picked.
    constexpr int kQuoteWindowChars = 280;
    constexpr int kQuoteSentences = 6;
    QStringList sentences;
    for (const ExtractedSentence& s : AIAssistant::extractive(q, {p}, kQuoteSentences))
        sentences << s.text;
    if (containing && !containing->isEmpty()) {
        QStringList holding;
        for (const QString& s : sentences) {
            if (Arabic::normalize(s).contains(*containing))
                holding << s;
        }
        if (!holding.isEmpty())
            sentences = holding;
    } else {
        // A sentence that holds a key as a word before one that holds it
        // only inside another word.
        QList<std::shared_ptr<const Arabic::FormSet>> forms;
        for (const QString& key : keys(q))
            forms << Arabic::affixForms(key);
        const auto asWords = [&](const QString& text) {
            QStringList held;
            for (const QString& w : Arabic::tokens(text)) {
                if (std::any_of(forms.begin(), forms.end(), [&](const auto& f) { return f->contains(w); }))
                    held << w;
            }
            return held;
        };
        QStringList holding;
        for (const QString& s : sentences) {
            if (!asWords(s).isEmpty())
                holding << s;
        }
        if (!holding.isEmpty())
            sentences = holding;
        // No sentence holds them as words: the window around the words themselves.
        else if (const QStringList held = asWords(p.text); !held.isEmpty())
            sentences = {AIAssistant::window(p.text, held, kQuoteWindowChars)};
    }
    QString s = sentences.isEmpty() ? AIAssistant::window(p.text, keys(q), kQuoteWindowChars) : sentences.first();
    s = Characters::trim(s, isQuoteTrimmed).toString().replace(u'\n', u' ');
    return QStringLiteral("«") + s + QStringLiteral("» [") + QString::number(p.n) + u']';
}

QString worksCount(const Library& lib, const QList<std::int64_t>& books, CountedNoun::Case grammaticalCase)
{
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    const QSet<std::int64_t> distinct(books.begin(), books.end());
    QSet<std::int64_t> works;
    for (const std::int64_t id : distinct)
        works.insert(BookTitles::work(*catalog, id));
    QString text = CountedNoun::books().count(works.size(), grammaticalCase);
    if (works.size() < distinct.size())
        text += QStringLiteral(" (في ") + tabaat().count(distinct.size(), CountedNoun::Case::genitive) + u')';
    return text;
}

QString footnotesLabelled(const QString& content)
{
    return QString(content).replace(QStringLiteral("__________"), QStringLiteral("\n[الحاشية]\n"));
}

bool readAlike(const QStringList& words, const QStringList& otherWords)
{
    // Two quotations from editions of one work read alike when this share of
    // the shorter one's words is in the other.
    constexpr double kAlikeWordsShare = 0.8;
    const bool shorterFirst = words.size() <= otherWords.size();
    const QStringList& shorter = shorterFirst ? words : otherWords;
    const QStringList& longer = shorterFirst ? otherWords : words;
    if (shorter.isEmpty())
        return false;
    const QSet<QString> inLonger(longer.begin(), longer.end());
    const auto held = std::count_if(shorter.begin(), shorter.end(), [&](const QString& w) { return inLonger.contains(w); });
    return double(held) >= kAlikeWordsShare * double(shorter.size());
}

QList<Passage> onePerWork(const Library& lib, const QString& q, const QList<Passage>& passages,
                          const std::optional<QString>& containing,
                          QHash<std::int64_t, QList<std::int64_t>>* editions)
{
    const auto words = [&](const Passage& p) {
        Passage unnumbered = p;
        unnumbered.n = 0;
        return Arabic::tokens(quote(q, unnumbered, containing));
    };
    const std::shared_ptr<const Catalog> catalog = lib.catalog();
    struct Kept {
        std::int64_t work;
        std::int64_t pageId;
        QStringList words;
    };
    QList<Kept> kept;
    QList<Passage> out;
    for (const Passage& p : passages) {
        const std::int64_t w = BookTitles::work(*catalog, p.bookId);
        const QStringList mine = words(p);
        const auto same = std::find_if(kept.begin(), kept.end(), [&](const Kept& k) { return k.work == w && readAlike(k.words, mine); });
        if (same != kept.end()) {
            if (editions)
                (*editions)[same->pageId] << p.bookId;
            continue;
        }
        kept.append({w, p.pageId, mine});
        if (editions)
            editions->insert(p.pageId, {p.bookId});
        out << p;
    }
    return renumber(out);
}

QHash<std::int64_t, QString> shownTitles(const Library& lib, const QList<Passage>& passages)
{
    QList<std::int64_t> ids;
    for (const Passage& p : passages)
        ids << p.bookId;
    QHash<std::int64_t, QString> titles = BookTitles::labels(*lib.catalog(), ids);
    for (const Passage& p : passages)
        if (!titles.contains(p.bookId))
            titles.insert(p.bookId, p.bookTitle);
    return titles;
}

QSet<std::int64_t> books(const Library& lib, const QStringList& words)
{
    QSet<std::int64_t> ids;
    for (const Category& category : lib.categories()) {
        if (std::any_of(words.begin(), words.end(), [&](const QString& w) { return category.name.contains(w); })) {
            for (const std::int64_t id : category.bookIds)
                ids.insert(id);
        }
    }
    return ids;
}

QSet<std::int64_t> sub(const BookScope& scope, const QSet<std::int64_t>& ids)
{
    if (!scope)
        return ids;
    QSet<std::int64_t> out = ids;
    out.intersect(*scope);
    return out;
}

// ---- Builders --------------------------------------------------------------------

namespace {

// A heading's words without the number it is filed under.
QString headingKey(const QString& text)
{
    QStringList words = Arabic::tokens(text);
    while (!words.isEmpty() && words.first().front().isDigit())
        words.removeFirst();
    return words.join(u' ');
}

// The passages with the lines that are a heading of their page in the
// book's table of contents, or part of one, cut out: a chapter's title is
// nobody's view. Each cut leaves «…» on its own line, so that a quotation
// running across it says so instead of joining the text around it. A
// passage of headings alone is left out.
QList<Passage> withoutHeadings(const Library& lib, const QList<Passage>& passages)
{
    const std::shared_ptr<SQLiteDB> db = lib.newSearchConnection();
    if (!db)
        return passages;
    const QString cut(QChar(0x2026));
    QList<Passage> out;
    for (Passage p : passages) {
        QStringList headings;
        for (const Statement::Row& row :
             db->rows(QStringLiteral("SELECT title FROM toc WHERE book_id=? AND page_seq=?"), {p.bookId, p.seq}))
            headings << headingKey(row.str(0).value_or(QString()));
        QStringList lines;
        for (const QString& line : p.text.split(u'\n')) {
            const QString key = headingKey(line);
            const bool heading = !key.isEmpty()
                && std::any_of(headings.begin(), headings.end(), [&](const QString& h) { return h.contains(key); });
            if (!heading)
                lines << line;
            else if (lines.isEmpty() || lines.last() != cut)
                lines << cut;
        }
        p.text = lines.join(u'\n');
        if (!headingKey(p.text).isEmpty())
            out << p;
    }
    return out;
}

// The pages the views and history reports read for the passages that hold
// the question's words as words: more than they quote, since the search also
// finds words that only begin with them.
constexpr int kWordsPool = 32;

// What a report quotes of the passages it found: one passage a work where
// two editions of it quote the same words, their shown titles, and every
// book that was found, for the count of works.
struct Quoted {
    QList<std::int64_t> foundBooks;
    QList<Passage> passages;
    QHash<std::int64_t, QString> titles;
};

Quoted quotedOnce(const Library& lib, const QString& q, const QList<Passage>& found)
{
    Quoted quoted;
    for (const Passage& p : found)
        quoted.foundBooks << p.bookId;
    quoted.passages = onePerWork(lib, q, found);
    quoted.titles = shownTitles(lib, quoted.passages);
    return quoted;
}

} // namespace

Built views(const Library& lib, const QString& q, const BookScope& scope)
{
    const QList<Passage> found = chrono(
        holdingWords(q, withoutHeadings(lib, AIAssistant::retrieve(lib, q, kWordsPool, scope, 1))).mid(0, 12));
    if (found.isEmpty())
        return {};
    const Quoted quoted = quotedOnce(lib, q, found);
    QString text = QStringLiteral("## الخلاصة\nجمعت هنا ما قيل في «") + q + QStringLiteral("» من ")
        + worksCount(lib, quoted.foundBooks, CountedNoun::Case::genitive) + QStringLiteral(" في المكتبة");
    if (const QList<Passage>& P = quoted.passages; P.size() >= 2)
        text += QStringLiteral("، مرتبا بوفاة أصحابه من ") + who(P.first()) + QStringLiteral(" إلى ") + who(P.last());
    text += QStringLiteral(". النصوص حرفية بأرقام مصادرها، ولا ترجيح بينها.\n");
    for (const Passage& p : quoted.passages)
        text += QStringLiteral("## ") + who(p) + QStringLiteral(" · ") + quoted.titles.value(p.bookId) + u'\n' + quote(q, p)
            + u'\n';
    return {quoted.passages, text, QString()};
}

Built history(const Library& lib, const QString& q, const BookScope& scope)
{
    const QList<Passage> found = chrono(holdingWords(q, AIAssistant::retrieve(lib, q, kWordsPool, scope, 1)).mid(0, 16));
    if (found.isEmpty())
        return {};
    const Quoted quoted = quotedOnce(lib, q, found);
    QString text = QStringLiteral("## الخلاصة\nورد «") + q + QStringLiteral("» في ")
        + worksCount(lib, quoted.foundBooks, CountedNoun::Case::genitive) + QStringLiteral(" مما بحثت فيه");
    if (const QList<Passage>& P = quoted.passages; P.size() >= 2) {
        text += QStringLiteral("، من ") + century(P.first().death) + QStringLiteral(" (") + who(P.first())
            + QStringLiteral(") إلى ") + century(P.last().death) + QStringLiteral(" (") + who(P.last()) + u')';
    }
    text += QStringLiteral(".\n");
    QString current;
    for (const Passage& p : quoted.passages) {
        const QString c = century(p.death);
        if (c != current) {
            text += QStringLiteral("## ") + c + u'\n';
            current = c;
        }
        text += citedLine(q, p, quoted.titles);
    }
    return {quoted.passages, text, QString()};
}

Built term(const Library& lib, const QString& q, const BookScope& scope)
{
    const QSet<std::int64_t> L = sub(scope, books(lib, lexiconKeys()));
    QSet<std::int64_t> all;
    for (const Book& b : lib.books())
        all.insert(b.id);
    QSet<std::int64_t> O = sub(scope, all);
    O.subtract(L);

    // Two editions of one work quoting the same words are quoted once.
    const QList<Passage> A = L.isEmpty()
        ? QList<Passage>{}
        : onePerWork(lib, q, holdingWords(q, AIAssistant::retrieve(lib, q, 8, L, 1)).mid(0, 5));
    const QList<Passage> B = onePerWork(lib, q, holdingWords(q, AIAssistant::retrieve(lib, q, 10, O, 1)).mid(0, 6));
    const QList<Passage> P = renumber(A + B);
    if (P.isEmpty())
        return {};
    const QHash<std::int64_t, QString> titles = shownTitles(lib, P);

    QString text;
    if (!A.isEmpty()) {
        text += QStringLiteral("## في كتب اللغة والمعاجم\n");
        for (qsizetype i = 0; i < A.size(); ++i)
            text += citedLine(q, P[i], titles);
    }
    text += QStringLiteral("## في كتب العلم الأخرى\n");
    for (qsizetype i = A.size(); i < P.size(); ++i)
        text += citedLine(q, P[i], titles);

    const QString t = Arabic::normalize(q);
    if (!t.isEmpty()) {
        if (const std::shared_ptr<SQLiteDB> db = lib.newSearchConnection()) {
            const QList<Statement::Row> rows = db->rows(
                QStringLiteral("SELECT count(*) FROM pages_fts WHERE pages_fts MATCH ?"), {SearchEngine::quote(t)});
            if (!rows.isEmpty()) {
                // The books by id, so that a work's editions count as one work.
                QList<std::int64_t> found;
                for (const Statement::Row& row :
                     db->rows(QStringLiteral("SELECT DISTINCT book_id FROM pages_fts WHERE pages_fts MATCH ?"),
                              {SearchEngine::quote(t)})) {
                    if (const std::optional<std::int64_t> id = row.integer(0))
                        found << *id;
                }
                text += QStringLiteral("## مواضع الورود\nورد «") + q + QStringLiteral("» بلفظه في ")
                    + CountedNoun::pages().count(rows[0].integer(0).value_or(0), CountedNoun::Case::genitive)
                    + QStringLiteral(" من ") + worksCount(lib, found, CountedNoun::Case::genitive)
                    + QStringLiteral(" في المكتبة.\n");
            }
        }
    }
    return {P, text, QString()};
}

// ---- Answering ---------------------------------------------------------------------

AIAnswer run(Library& lib, const QString& question, AIMode mode, const BookScope& scope,
             const LocalLLM::DeltaHandler& onDelta)
{
    AIAnswer answer(mode, question, {});
    answer.isRuling = AIAssistant::isRuling(question);

    Built b;
    switch (mode) {
    case AIMode::views: b = views(lib, question, scope); break;
    case AIMode::biography: b = biography(lib, question, scope); break;
    case AIMode::term: b = term(lib, question, scope); break;
    case AIMode::history: b = history(lib, question, scope); break;
    case AIMode::takhrij: b = takhrij(lib, question, scope); break;
    case AIMode::sources: b = sources(lib, question, scope); break;
    default: break;
    }
    answer.passages = b.passages;
    answer.text = b.text.isEmpty() ? notFound() : b.text;
    answer.structured = true;
    answer.verifiedAll = true;
    if (!mode.usesModel() || b.passages.isEmpty())
        return answer;
    if (const AIAssistant::ModelReadiness model = AIAssistant::modelReadiness(chatFailedNote); !model.ready) {
        answer.note = model.note;
        return answer;
    }

    // How many tokens the model may answer with.
    constexpr int kSummaryTokens = 500;
    const QString prompt = AIAssistant::kashifPrompt(modelQuestion(mode, question), b.passages, AIAssistant::promptBudget);
    QString reply;
    const std::uint64_t stopsBefore = LocalLLM::stopCount();
    try {
        reply = LocalLLM::chat(QString(), prompt, kSummaryTokens, onDelta);
    } catch (const std::exception&) {
        // A stop the reader asked for is no failed connection.
        answer.cutShort = LocalLLM::stopCount() != stopsBefore;
        answer.note = answer.cutShort ? stoppedNote : chatFailedNote;
        return answer;
    }
    answer.rawText = reply;
    const AIAssistant::Grounded g = AIAssistant::ground(reply, b.passages);
    answer.quoteCount = g.quotes;
    answer.failedQuotes = g.failed;
    if (!g.notFound && g.quotes >= 1 && g.faithful) {
        const QString rest = b.head.isEmpty() ? b.text : b.text.mid(b.head.size());
        answer.text = b.head + summaryHeading + g.text + u'\n' + rest;
        answer.tier = 1;
        answer.verifiedAll = g.failed == 0;
    } else {
        answer.note = rejectedNote;
    }
    return answer;
}

} // namespace quorvel::Reports
