#include "assistant/Reports.h"

#include "assistant/Intent.h"

#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/DistFetch.h"
#include "core/Library.h"
#include "scholar/Isnad.h"
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

QStringList wordsAsWritten(const QString& text)
{
    return Arabic::tokens(Arabic::plainSpelling(text));
}

QList<Passage> holdingWords(const QString& q, const QList<Passage>& passages)
{
    const QStringList k = keys(q);
    if (k.isEmpty())
        return passages;
    QList<std::shared_ptr<const Arabic::FormSet>> forms;
    for (const QString& key : k)
        forms << Arabic::wordForms(key);
    return holdingMostKeys(passages, k.size(), [&](const Passage& p) {
        const QStringList words = wordsAsWritten(p.text);
        return std::count_if(forms.begin(), forms.end(), [&](const auto& f) {
            return std::any_of(words.begin(), words.end(), [&](const QString& w) { return f->contains(w); });
        });
    });
}

QSet<QString> namedForms(const QString& q)
{
    static const QString article = QStringLiteral("ال");
    QSet<QString> forms;
    for (const QString& key : keys(q)) {
        for (const QString& head : Arabic::heads(key.startsWith(article) ? key : article + key))
            forms.insert(head);
    }
    return forms;
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

namespace {

// A heading's words without the number it is filed under.
QString headingKey(const QString& text)
{
    QStringList words = Arabic::tokens(text);
    while (!words.isEmpty() && words.first().front().isDigit())
        words.removeFirst();
    return words.join(u' ');
}

// How far a chapter heading may run on a line before the isnad it heads.
constexpr qsizetype kHeadingRunWords = 30;

bool isNumberWord(QStringView word)
{
    return std::any_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); })
        && std::all_of(word.begin(), word.end(), [](QChar c) { return c.isDigit() || c.isPunct(); });
}

// Where a line opens with a chapter heading that runs on into the isnad of
// its first hadith («(59) باب الولد للفراش 2004 - حدثنا …»), as an edition
// without line breaks between them writes it: the offset where the hadith's
// number begins, or -1. The run is a heading when it opens with a chapter
// word or is one of the page's headings.
qsizetype headingRunEnd(const QString& line, const QStringList& headings)
{
    QList<std::pair<qsizetype, qsizetype>> words; // [start, end) of each word
    for (qsizetype i = 0; i < line.size() && words.size() <= kHeadingRunWords;) {
        while (i < line.size() && line[i].isSpace())
            ++i;
        const qsizetype from = i;
        while (i < line.size() && !line[i].isSpace())
            ++i;
        if (i > from)
            words.append({from, i});
    }
    const auto word = [&](qsizetype k) { return QStringView(line).mid(words[k].first, words[k].second - words[k].first); };
    qsizetype first = 0;
    while (first < words.size() && isNumberWord(word(first)))
        ++first;
    for (qsizetype verb = first + 1; verb < words.size(); ++verb) {
        if (!Isnad::opensChain(word(verb).toString()))
            continue;
        qsizetype end = verb;
        while (end > first + 1 && (isNumberWord(word(end - 1)) || word(end - 1) == u"-"))
            --end;
        const QString run = line.mid(words[first].first, words[end - 1].second - words[first].first);
        const QString opening = Arabic::normalize(word(first).toString());
        const QString key = headingKey(run);
        const bool heading = opening == QStringLiteral("باب") || opening == QStringLiteral("كتاب")
            || opening == QStringLiteral("ابواب")
            || (!key.isEmpty() && std::any_of(headings.begin(), headings.end(), [&](const QString& h) { return h == key; }));
        // The hadith's number tells the heading's last word from a verb of its own («إذا سمعت النداء»).
        const bool numbered = end < verb;
        return heading && numbered && end - first >= 2 ? words[end].first : -1;
    }
    return -1;
}

} // namespace

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
            const qsizetype hadith = heading ? -1 : headingRunEnd(line, headings);
            if (heading || hadith >= 0) {
                if (lines.isEmpty() || lines.last() != cut)
                    lines << cut;
            }
            if (!heading)
                lines << line.mid(std::max<qsizetype>(hadith, 0));
        }
        p.text = lines.join(u'\n');
        if (!headingKey(p.text).isEmpty())
            out << p;
    }
    return out;
}

// ---- Builders --------------------------------------------------------------------

namespace {

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
        holdingWords(q, withoutHeadings(lib, AIAssistant::retrieve(lib, q, kWordsPool, scope, 1, AIAssistant::TermReach::everyForm))).mid(0, 12));
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
    const QList<Passage> found = chrono(holdingWords(q, AIAssistant::retrieve(lib, q, kWordsPool, scope, 1, AIAssistant::TermReach::everyForm)).mid(0, 16));
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

namespace {

// How often the library holds the term, in every form the report quotes it
// in: its pages and the works they are in.
QString occurrences(const Library& lib, const QString& term)
{
    const QStringList k = keys(term);
    const std::shared_ptr<SQLiteDB> db = k.isEmpty() ? nullptr : lib.newSearchConnection();
    if (!db)
        return {};
    const QString match = wordGroups(k).join(QStringLiteral(" AND "));
    const QList<Statement::Row> rows =
        db->rows(QStringLiteral("SELECT count(*) FROM pages_fts WHERE pages_fts MATCH ?"), {match});
    if (rows.isEmpty())
        return {};
    // The books by id, so that a work's editions count as one work.
    QList<std::int64_t> found;
    for (const Statement::Row& row :
         db->rows(QStringLiteral("SELECT DISTINCT book_id FROM pages_fts WHERE pages_fts MATCH ?"), {match})) {
        if (const std::optional<std::int64_t> id = row.integer(0))
            found << *id;
    }
    return QStringLiteral("## مواضع الورود\nورد «") + term + QStringLiteral("» في ")
        + CountedNoun::pages().count(rows[0].integer(0).value_or(0), CountedNoun::Case::genitive) + QStringLiteral(" من ")
        + worksCount(lib, found, CountedNoun::Case::genitive) + QStringLiteral(" في المكتبة.\n");
}

} // namespace

namespace {

// The term a question asks about: «ما معنى الغيبة؟» asks about «الغيبة».
QString termOf(const QString& q)
{
    const auto [mode, topic] = Intent::route(q);
    return mode == AIMode::term && !topic.isEmpty() ? topic : q;
}

// The passages where the term is the topic first: a sentence holds it with
// its article (الغيبة، بالغيبة) or opens on it, as a lexicon's entry or a
// definition does; then those that only hold one of its forms.
QList<Passage> topicFirst(const QString& term, const QList<Passage>& passages)
{
    const QSet<QString> withArticle = namedForms(term);
    QSet<QString> opening = withArticle;
    for (const QString& key : keys(term))
        opening.insert(key);
    const auto isTopic = [&](const Passage& p) {
        for (const QString& line : p.text.split(u'\n')) {
            const QStringList words = Arabic::tokens(line);
            if (!words.isEmpty() && opening.contains(words.first()))
                return true;
            if (std::any_of(words.begin(), words.end(), [&](const QString& w) { return withArticle.contains(w); }))
                return true;
        }
        return false;
    };
    QList<Passage> out = passages;
    std::stable_partition(out.begin(), out.end(), isTopic);
    return out;
}

} // namespace

Built term(const Library& lib, const QString& q, const BookScope& scope)
{
    const QString word = termOf(q);
    const QSet<std::int64_t> L = sub(scope, books(lib, lexiconKeys()));
    QSet<std::int64_t> all;
    for (const Book& b : lib.books())
        all.insert(b.id);
    QSet<std::int64_t> O = sub(scope, all);
    O.subtract(L);

    // Two editions of one work quoting the same words are quoted once.
    const auto found = [&](int k, const QSet<std::int64_t>& books, int kept) {
        return onePerWork(lib, word, topicFirst(word, holdingWords(word, AIAssistant::retrieve(lib, word, k, books, 1, AIAssistant::TermReach::everyForm))).mid(0, kept));
    };
    const QList<Passage> A = L.isEmpty() ? QList<Passage>{} : found(8, L, 5);
    const QList<Passage> B = found(10, O, 6);
    const QList<Passage> P = renumber(A + B);
    if (P.isEmpty())
        return {};
    const QHash<std::int64_t, QString> titles = shownTitles(lib, P);

    QString text;
    if (!A.isEmpty()) {
        text += QStringLiteral("## في كتب اللغة والمعاجم\n");
        for (qsizetype i = 0; i < A.size(); ++i)
            text += citedLine(word, P[i], titles);
    }
    text += QStringLiteral("## في كتب العلم الأخرى\n");
    for (qsizetype i = A.size(); i < P.size(); ++i)
        text += citedLine(word, P[i], titles);
    text += occurrences(lib, word);
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
