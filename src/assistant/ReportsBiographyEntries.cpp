#include "assistant/ReportsBiographyText.h"

#include "core/Library.h"
#include "core/SQLiteDB.h"

#include <algorithm>
#include <tuple>

namespace quorvel::Reports::BiographyText {

// Whether the words hold `word`, also with a letter joined to its front
// («الملقب بالأشتر»).
bool holdsWord(const QStringList& words, const QString& word)
{
    return std::any_of(words.begin(), words.end(), [&](const QString& w) {
        return w == word
            || std::any_of(proclitics().begin(), proclitics().end(),
                           [&](const QString& c) { return w.size() == c.size() + word.size() && w.startsWith(c) && w.endsWith(word); });
    });
}

namespace {

// The words a dictionary calls a man famous, an imam, a prolific or eminent narrator by.
const QSet<QString>& famousWords()
{
    static const QSet<QString> famous{
        QStringLiteral("مشهور"), QStringLiteral("المشهور"), QStringLiteral("شهير"),   QStringLiteral("الشهير"),
        QStringLiteral("جليل"),  QStringLiteral("الجليل"),  QStringLiteral("امام"),   QStringLiteral("الامام"),
        QStringLiteral("مكثر"),  QStringLiteral("المكثرين"), QStringLiteral("الكثير"), QStringLiteral("اشهر"),
        QStringLiteral("الائمه"), QStringLiteral("الحفاظ"), QStringLiteral("خليفه")};
    return famous;
}

} // namespace

// How the dictionary ranks the man its entry is of: 0 where it grades him
// little known or discarded; 2 where it calls him famous, an imam, a
// prolific or eminent narrator; 0 where it says he is weak; 1 otherwise. Of a
// form's bearers, the one it calls famous is the one a reader means. A word
// of fame counts only where it is said of him, never as his name or
// another's, and before the account of whom he heard and who heard him.
int standing(const QStringList& words)
{
    const QSet<QString>& famous = famousWords();
    // Said of his father or brother: «ولد العالم الشهير».
    static const QSet<QString> kin{QStringLiteral("ولد"), QStringLiteral("والد"), QStringLiteral("اخو"),
                                   QStringLiteral("اخي")};
    constexpr qsizetype kKinWords = 2;
    // Said of a man however well known: he is not the one meant.
    static const QSet<QString> discarded{QStringLiteral("كذبوه"), QStringLiteral("كذاب"), QStringLiteral("متهم"),
                                         QStringLiteral("متروك"), QStringLiteral("ذاهب"), QStringLiteral("منكر"),
                                         QStringLiteral("ترك")};
    // A grade of a man little known, whatever else is said of him («مقبول … مشهور بكنيته»).
    static const QSet<QString> unknown{QStringLiteral("مقبول"), QStringLiteral("مقبوله"), QStringLiteral("مجهول"),
                                       QStringLiteral("مجهوله"), QStringLiteral("مستور"), QStringLiteral("مستوره")};
    static const QSet<QString> obscure{QStringLiteral("تمييز"), QStringLiteral("ضعيف"), QStringLiteral("لين"),
                                       QStringLiteral("مضطرب")};
    // Where the account of others begins: whom he heard, who heard him
    // («روى عنه»; «روى الكثير» is said of him).
    static const QSet<QString> account{QStringLiteral("سمع"), QStringLiteral("وسمع"), QStringLiteral("عن"),
                                       QStringLiteral("عنه"), QStringLiteral("وعنه"), QStringLiteral("حدث")};
    static const QSet<QString> narrated{QStringLiteral("روي"), QStringLiteral("وروي")};
    const auto opensAccount = [&](qsizetype i) {
        return account.contains(words[i])
            || (narrated.contains(words[i]) && i + 1 < words.size() && account.contains(words[i + 1]));
    };
    // A copy's slip of a dot: «الحفاط» for «الحفاظ».
    const auto undotted = [](QString w) { return w.replace(QChar(0x0637), QChar(0x0638)); };
    const auto bare = [](const QString& w) {
        return (w.startsWith(u'و') || w.startsWith(u'ف')) && w.size() > 3 ? w.mid(1) : w;
    };
    // His given name stands first, or after the kunya that heads the entry.
    qsizetype nameAt = 0;
    while (nameAt < words.size() && isEntryMark(words[nameAt]))
        ++nameAt;
    const qsizetype ismAt = nameAt + 1 < words.size() && isKunya(words[nameAt])
        ? nameAt + (nameAt + 2 < words.size() && isOpenEnded(words[nameAt + 1]) ? 3 : 2)
        : nameAt;
    qsizetype accountAt = nameAt + entryName(words.mid(nameAt)).size();
    while (accountAt < words.size() && !opensAccount(accountAt))
        ++accountAt;
    const auto holds = [&](const QSet<QString>& set, bool saidOfHim) {
        qsizetype kinAt = -kKinWords - 1;
        for (qsizetype i = 0; i < words.size(); ++i) {
            if (kin.contains(words[i]))
                kinAt = i;
            if (saidOfHim && (i == nameAt || i == ismAt || i >= accountAt))
                continue;
            // «… بن خليفة», «خليفة بن خياط» and «عبد الجليل» are names, not titles.
            if ((set.contains(words[i]) || set.contains(bare(words[i])) || set.contains(undotted(words[i])))
                && (i == 0 || !isOpenEnded(words[i - 1])) && (i + 1 >= words.size() || !isLineage(words[i + 1]))
                && i - kinAt > kKinWords)
                return true;
        }
        return false;
    };
    if (holds(discarded, false) || holds(unknown, false))
        return 0;
    if (holds(famous, true))
        return 2;
    return holds(obscure, false) ? 0 : 1;
}

// The dictionaries that grade the men they file: most of their pages hold a
// grade. Of a man's entries, the one that judges him is the one a reader
// asks for first; a book of names that lists whom he heard comes after.
QSet<std::int64_t> gradingDictionaries(const Library& lib, const QSet<std::int64_t>& dictionaries)
{
    static const QStringList grades{QStringLiteral("ثقه"), QStringLiteral("صدوق")};
    QSet<std::int64_t> out;
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return out;
    for (const std::int64_t id : dictionaries) {
        const QList<Statement::Row> all =
            lib.main().rows(QStringLiteral("SELECT count(*) FROM pages WHERE book_id=?"), {id});
        const QList<Statement::Row> graded = conn->rows(
            QStringLiteral("SELECT count(*) FROM pages_fts WHERE pages_fts MATCH ? AND book_id=?"),
            {grades.join(QStringLiteral(" OR ")), id});
        const std::int64_t pages = all.isEmpty() ? 0 : all.first().integer(0).value_or(0);
        const std::int64_t judged = graded.isEmpty() ? 0 : graded.first().integer(0).value_or(0);
        if (pages > 0 && 2 * judged >= pages)
            out.insert(id);
    }
    return out;
}

// The lines of a text as stretches, line breaks left out.
QList<std::pair<qsizetype, qsizetype>> linesOf(const QString& text)
{
    QList<std::pair<qsizetype, qsizetype>> out;
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype to = text.indexOf(u'\n', from);
        if (to < 0)
            to = text.size();
        if (to > from)
            out.append({from, to});
        from = to + 1;
    }
    return out;
}

// A man asked for by a short form alone: a nisba or epithet («البخاري»,
// «الأشتر»), a kunya without his father («أبو حنيفة») or «ابن X».
bool isShortForm(const QStringList& name)
{
    if (name.isEmpty())
        return false;
    if (name.size() == 1)
        return name.first().startsWith(QStringLiteral("ال"));
    if (isKunya(name.first()))
        return !name.contains(sonOf());
    return name.first() == sonOf() && name.size() <= 3;
}

namespace {

// How many words from `at` say that he was the Prophet's companion («صاحب
// النبي صلى الله عليه وسلم»), a title of his own after which the other
// readings of his name may follow; 0 where they do not.
qsizetype companionOfTheProphet(const QStringList& words, qsizetype at)
{
    static const QString companion = QStringLiteral("صاحب");
    static const QSet<QString> prophet{QStringLiteral("النبي"), QStringLiteral("رسول")};
    static const QSet<QString> eulogy{QStringLiteral("الله"), QStringLiteral("صلي"), QStringLiteral("عليه"),
                                      QStringLiteral("وسلم")};
    if (at + 1 >= words.size() || words[at] != companion || !prophet.contains(words[at + 1]))
        return 0;
    qsizetype to = at + 2;
    while (to < words.size() && eulogy.contains(words[to]))
        ++to;
    return to - at;
}

} // namespace

// The words of a numbered entry that name the man, before what is said of
// him (his grade, his generation, a remark) or the account of others: whom
// he heard, who heard him. A man named there is not the entry's.
QStringList entryName(const QStringList& words, bool withAlternatives)
{
    // «ويقال …» gives another reading of his name, not what is said of him.
    static const QSet<QString> alternatives{QStringLiteral("يقال"), QStringLiteral("ويقال"), QStringLiteral("قيل"),
                                            QStringLiteral("وقيل")};
    static const QSet<QString> said{
        QStringLiteral("سمع"),   QStringLiteral("وسمع"),  QStringLiteral("عنه"),   QStringLiteral("وعنه"),
        QStringLiteral("وروي"),  QStringLiteral("حدث"),
        QStringLiteral("ثقه"),   QStringLiteral("صدوق"),  QStringLiteral("مقبول"), QStringLiteral("مجهول"),
        QStringLiteral("ضعيف"),  QStringLiteral("من"),    QStringLiteral("روي"),   QStringLiteral("قال"),
        QStringLiteral("عند"),   QStringLiteral("وعند"),  QStringLiteral("له"),    QStringLiteral("لها"),
        QStringLiteral("في"),    QStringLiteral("ذكره"),  QStringLiteral("وذكره"), QStringLiteral("ذكرها"),
        QStringLiteral("وذكرها"),
        QStringLiteral("تقدم"),  QStringLiteral("لا"),    QStringLiteral("يقال"),  QStringLiteral("ويقال"),
        QStringLiteral("قيل"),   QStringLiteral("وقيل"),  QStringLiteral("صحابي"), QStringLiteral("مخضرم"),
        QStringLiteral("والد"),  QStringLiteral("اخو"),   QStringLiteral("عن"),
        // Another man's wife, client, companion, kin or neighbour: the form after them is his.
        QStringLiteral("امراه"), QStringLiteral("زوج"),   QStringLiteral("مولي"),  QStringLiteral("صاحب"),
        QStringLiteral("عم"),    QStringLiteral("اخي"),   QStringLiteral("اخت"),   QStringLiteral("خال"),   QStringLiteral("جار"),
        QStringLiteral("سبط"),   QStringLiteral("ختن"),   QStringLiteral("امام"),  QStringLiteral("يعرف"),
        QStringLiteral("ويعرف"),
        // What he witnessed, where he lived, whom he saw: the account of him has begun.
        QStringLiteral("شهد"),   QStringLiteral("سكن"),   QStringLiteral("نزل"),   QStringLiteral("راي"),
        QStringLiteral("ادرك")};
    qsizetype from = 0;
    while (from < words.size() && isEntryMark(words[from]))
        ++from;
    // «نزيل بغداد» says where he settled, and his nisbas and epithets may follow it.
    static const QString settledIn = QStringLiteral("نزيل");
    QStringList name;
    for (qsizetype to = from; to < words.size(); ++to) {
        if (words[to] == settledIn) {
            ++to;
            continue;
        }
        if (const qsizetype eulogy = companionOfTheProphet(words, to)) {
            to += eulogy - 1;
            continue;
        }
        if (said.contains(words[to]) && !(withAlternatives && alternatives.contains(words[to])))
            break;
        name << words[to];
    }
    return name;
}

namespace {

// A dictionary page's numbered entry lines: where each starts in the page
// text, the line, and its words in normal form.
struct NumberedLine {
    qsizetype from = 0;
    QString line;
    QStringList words;
};

QList<NumberedLine> numberedLines(const QString& content)
{
    QList<NumberedLine> out;
    for (const auto& [from, to] : linesOf(content)) {
        QString line = content.mid(from, to - from);
        QStringList words = foldedTokens(line);
        if (!words.isEmpty() && isEntryNumber(words.first()))
            out.append(NumberedLine{from, std::move(line), std::move(words)});
    }
    return out;
}

// The head of an entry's name, as the library's pages name the man: his
// first name and his father's («عبد الله بن مسعود»), or a kunya and the
// nisba after it («أبو حنيفة الكوفي»). A dictionary that heads each entry
// with a kunya names the man after it («أبو بكر محمد بن مسلم …»): his head
// is the name, not the kunya namesakes share.
// The words of the kunya that heads an entry before the man's name; 0 where
// none does, or the kunya is his name («أبو بكر بن أبي شيبة»).
qsizetype kunyaHeading(const QStringList& name)
{
    if (name.isEmpty() || !isKunya(name[0]))
        return 0;
    const qsizetype k = name.size() > 1 && isOpenEnded(name[1]) && !isLineage(name[1]) ? 3 : 2;
    return k < name.size() && name[k] != sonOf() && !name[k].startsWith(QStringLiteral("ال")) ? k : 0;
}

QStringList nameHead(const QStringList& name)
{
    if (const qsizetype k = kunyaHeading(name))
        return nameHead(name.mid(k));
    qsizetype i = 0;
    // «عبد الله», «عبيد الله», «أبو حنيفة»: one element of two words.
    const auto element = [&] {
        if (i < name.size() && isOpenEnded(name[i]) && !isLineage(name[i]))
            ++i;
        if (i < name.size())
            ++i;
        if (i < name.size() && (name[i] == QStringLiteral("الله") || name[i] == QStringLiteral("الرحمن")))
            ++i;
    };
    element();
    if (i + 1 < name.size() && name[i] == sonOf()) {
        ++i;
        element();
    } else if (i < name.size() && name[i].startsWith(QStringLiteral("ال"))) {
        ++i;
    }
    return name.mid(0, i);
}

// How many pages of the library name both phrases.
std::int64_t pagesNamingBoth(const Library& lib, const QStringList& a, const QStringList& b)
{
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return 0;
    const QList<Statement::Row> rows = conn->rows(QStringLiteral("SELECT count(*) FROM pages_fts WHERE pages_fts MATCH ?"),
                                                  {u'(' + namePhrase(a) + QStringLiteral(") AND (") + namePhrase(b) + u')'});
    return rows.isEmpty() ? 0 : rows.first().integer(0).value_or(0);
}

// How many pages of the library name the man of `head` by the form: his
// name with the form beside it («إبراهيم النخعي», «أبو حنيفة النعمان»,
// «محمد بن إسماعيل البخاري»), or his name where it holds the form («عبد
// الله بن مسعود»).
std::int64_t knownByForm(const Library& lib, const QStringList& head, const QStringList& form)
{
    for (qsizetype at = 0; at + form.size() <= head.size(); ++at)
        if (head.mid(at, form.size()) == form)
            return pagesCount(lib, head);
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return 0;
    const qsizetype son = head.indexOf(sonOf());
    const QStringList first = son > 0 ? head.mid(0, son) : head;
    const QString match = namePhrase(first + form) + QStringLiteral(" OR ") + namePhrase(form + first)
        + (son > 0 ? QStringLiteral(" OR ") + namePhrase(head + form) : QString());
    const QList<Statement::Row> rows =
        conn->rows(QStringLiteral("SELECT count(*) FROM pages_fts WHERE pages_fts MATCH ?"), {match});
    return rows.isEmpty() ? 0 : rows.first().integer(0).value_or(0);
}

// A man who bears a short form: his numbered entry (with the head of his
// name as `filedAs`), how many pages of the library name him by the form,
// and his name as his entry writes it.
struct Bearer {
    AboutName entry;
    int standing = 1;        // how the dictionary ranks him
    std::int64_t named = 0; // pages naming him by a kunya with what his entry adds to it
    bool filedUnder = false; // his entry opens with the form
    bool famousByIt = false; // his entry calls him famous right after the form
    std::int64_t known = 0;
    QString written;
};

// How many pages name a kunya's bearer by the kunya and what his entry's
// heading adds to it: the word or two after it, or one of his nisbas
// («أبو سعيد الخدري», «أبو بكر الصديق»). «أبو بكر بن أبي شيبة» is a
// longer name, not the kunya alone.
std::int64_t namedWithKunya(const Library& lib, const QStringList& name, qsizetype at, const QStringList& form)
{
    QSet<QString> added;
    const qsizetype after = at + form.size();
    if (after < name.size() && !isLineage(name[after]))
        added.insert(after + 1 < name.size() && isOpenEnded(name[after]) ? name[after] + u' ' + name[after + 1]
                                                                           : name[after]);
    for (const QString& w : name) {
        if (w.startsWith(QStringLiteral("ال")) && w != QStringLiteral("الله") && !form.contains(w))
            added.insert(w);
    }
    // «قيس بن أبي حازم البجلي» names the father by the kunya, not the man.
    std::int64_t pages = 0;
    for (const QString& a : added) {
        const QStringList named = form + a.split(u' ');
        pages += std::max<std::int64_t>(0, pagesCount(lib, named) - pagesCount(lib, QStringList{sonOf()} + named));
    }
    return pages;
}

// The first `n` words of an entry line as written, its number and marks left out.
QString writtenWords(const QString& line, qsizetype n)
{
    QStringList out;
    for (const QString& w : line.split(u' ', Qt::SkipEmptyParts)) {
        if (out.size() >= n)
            break;
        if (std::any_of(w.begin(), w.end(), [](QChar c) { return c.isLetter(); }) && !(out.isEmpty() && isEntryMark(w)))
            out << w;
    }
    return out.join(u' ');
}

// How many pages of the library name the man of `head` by the form. «ابن X»
// alone is written with its alef, where a lineage has «بن»: the pages that
// name him and hold «ابن X» so written.
std::int64_t knownAs(const Library& lib, const QStringList& head, const QStringList& form)
{
    if (form.first() == sonOf())
        return pagesNamingBoth(lib, head, QStringList{QStringLiteral("ابن")} + form.mid(1));
    // Beside the form, and (among men of one given name) with it on the page.
    return knownByForm(lib, head, form) + pagesNamingBoth(lib, head, form);
}

// Whether the words from `at` call the man famous by the name before them
// («الفراء النحوي المشهور»), not by his kunya («مشهور بكنيته»), nor his
// father («أبو بكر بن الإمام»).
bool famousAfter(const QStringList& name, qsizetype at)
{
    constexpr qsizetype kWordsAfter = 2;
    for (qsizetype i = at; i < std::min(name.size(), at + kWordsAfter); ++i)
        if (famousWords().contains(name[i]) && !isLineage(name[i - 1]))
            return i + 1 >= name.size() || !name[i + 1].startsWith(QStringLiteral("بكنيت"));
    return false;
}

// The bearers of a short form: of the dictionaries' numbered entries whose
// name holds the form as the man's own (not his father's), one a man, the
// one the library's pages name most often by the form first.
QList<Bearer> bearers(const Library& lib, const QStringList& form, const QSet<std::int64_t>& dictionaries)
{
    const QHash<std::int64_t, Book> byId = lib.bookById();
    QList<Bearer> out;
    QSet<QString> met;
    for (const auto& [pageId, bookId] : pagesNaming(lib, form, dictionaries, kDictionaryPagesRead)) {
        const std::optional<Page> page = lib.page(pageId);
        if (!page || !byId.contains(bookId))
            continue;
        const QString content = footnotesLabelled(page->content);
        for (const auto& [from, line, words] : numberedLines(content)) {
            const QStringList name = entryName(words, true);
            // The form as his own name («الملقب بالأشتر»); «X بن الأشتر» is
            // the son of another, and «ابن X» his father's son, not a
            // forefather's («… بن عبد الله بن مسعود»).
            const bool sonOfAsked = form.first() == sonOf();
            const auto formAt = [&](qsizetype at) {
                return holdsWord({name[at]}, form.first()) && name.mid(at + 1, form.size() - 1) == form.mid(1)
                    && (sonOfAsked ? at == name.indexOf(sonOf()) : at == 0 || !isLineage(name[at - 1]));
            };
            qsizetype at = 0;
            while (at + form.size() <= name.size() && !formAt(at))
                ++at;
            if (at + form.size() > name.size())
                continue;
            // A man named only as someone's son or brother («بن أخي زينب») has no head.
            const QStringList head = nameHead(name);
            // One entry a man, in whichever edition it is met first.
            const QString key = words.first() + u' ' + head.join(u' ');
            if (head.isEmpty() || isLineage(head.first()) || met.contains(key))
                continue;
            const std::optional<Quoted> q = sentenceAbout(line, Reading{head, {}, {}, {}});
            if (!q || q->entry != Entry::numbered)
                continue;
            std::optional<AboutName> a = passageAt(lib, byId.value(bookId), *page, content,
                                                   Quoted{from + q->start, from + q->end, Entry::numbered});
            if (!a)
                continue;
            met.insert(key);
            a->filedAs = head;
            const std::int64_t named = isKunya(form.first()) ? namedWithKunya(lib, name, at, form) : 0;
            // A son is told from his brothers by the pages that call him «ابن X», not by his standing.
            out << Bearer{*a, sonOfAsked ? 1 : standing(words), named, at == 0, famousAfter(name, at + form.size()),
                          knownAs(lib, head, form), writtenWords(line, kunyaHeading(name) + head.size())};
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Bearer& a, const Bearer& b) {
        return std::make_tuple(a.standing, a.named, a.filedUnder, a.known)
            > std::make_tuple(b.standing, b.named, b.filedUnder, b.known);
    });
    return out;
}

// The other man the library knows by the form almost as well as the one
// chosen: named in one line, so that the answer is plainly about one of them.
// Only another man filed under the form: not the chosen man's own entry in
// another dictionary (`his`: the bearers that are he), not a woman, named
// as his own entry heads him.
QString sharedWith(const QList<Bearer>& ranked, const AboutName& chosen, const QSet<qsizetype>& his)
{
    // Another bearer is named when the pages name him by the form at least
    // this share as often as the chosen man.
    constexpr std::int64_t kSharedShareOf = 2;
    if (ranked.isEmpty())
        return {};
    // A kunya's bearers are weighed by the pages that name them by it with their nisbas.
    const bool byKunya = ranked.first().named > 0;
    const auto weight = [&](const Bearer& b) { return byKunya ? b.named : b.known; };
    const auto isChosen = [&](qsizetype b) {
        const AboutName& e = ranked[b].entry;
        return his.contains(b) || (e.passage.pageId == chosen.passage.pageId && e.sentence == chosen.sentence);
    };
    const auto isWoman = [](const Bearer& b) {
        const QStringList name = entryName(foldedTokens(b.entry.sentence));
        return name.contains(QStringLiteral("بنت")) || (!name.isEmpty() && name.first() == QStringLiteral("ام"));
    };
    std::int64_t chosenWeight = weight(ranked.first());
    for (qsizetype b = 0; b < ranked.size(); ++b) {
        if (isChosen(b)) {
            chosenWeight = weight(ranked[b]);
            break;
        }
    }
    for (qsizetype b = 0; b < ranked.size(); ++b) {
        if (!isChosen(b) && !isWoman(ranked[b]) && weight(ranked[b]) > 0 && weight(ranked[b]) * kSharedShareOf >= chosenWeight)
            return ranked[b].written;
    }
    return {};
}

// Whether an entry's own sentence holds the short form as his name.
bool holdsForm(const AboutName& entry, const QStringList& form)
{
    const QStringList words = entryName(foldedTokens(entry.sentence));
    for (qsizetype at = 0; at + form.size() <= words.size(); ++at)
        if (holdsWord({words[at]}, form.first()) && words.mid(at + 1, form.size() - 1) == form.mid(1))
            return true;
    return false;
}

// The man's numbered entry in each other dictionary, under the heading
// that dictionary gives him: a line that names him and his father (or his
// name and a nisba) and whose name is his.
QList<AboutName> entriesElsewhere(const Library& lib, const AboutName& his, const QSet<std::int64_t>& dictionaries,
                                  const QStringList& form)
{
    // The pages of a dictionary read for his entry.
    constexpr int kPagesReadForHim = 200;
    const QStringList heading = entryName(foldedTokens(his.sentence), true);
    const NameParts parts = nameParts(heading);
    if (parts.ism.isEmpty())
        return {};
    const QStringList phrase = !parts.fathers.isEmpty() ? parts.ism + QStringList{sonOf()} + parts.fathers.first()
        : !parts.nisbas.isEmpty()                        ? parts.ism + QStringList{parts.nisbas.first()}
                                                         : QStringList();
    if (phrase.isEmpty())
        return {};
    const QHash<std::int64_t, Book> byId = lib.bookById();
    QList<AboutName> out;
    for (const std::int64_t d : dictionaries) {
        if (d == his.passage.bookId)
            continue;
        bool found = false;
        for (const auto& [pageId, bookId] : pagesNaming(lib, phrase, QSet<std::int64_t>{d}, kPagesReadForHim)) {
            const std::optional<Page> page = lib.page(pageId);
            if (!page || found)
                break;
            const QString content = footnotesLabelled(page->content);
            for (const auto& [from, line, words] : numberedLines(content)) {
                if (!sameMan(entryName(words, true), heading, form))
                    continue;
                const std::optional<Quoted> q = sentenceAbout(line, Reading{phrase, {}, {}, {}});
                if (!q || q->entry != Entry::numbered)
                    continue;
                std::optional<AboutName> a = passageAt(lib, byId.value(bookId), *page, content,
                                                       Quoted{from + q->start, from + q->end, Entry::numbered});
                if (a) {
                    a->filedAs = phrase;
                    out << *a;
                    found = true;
                    break;
                }
            }
        }
    }
    return out;
}

// A name asked for by his given name and a nisba or a father
// («طاوس اليماني»), where no entry opens with those words together: the
// numbered entries whose heading is his, when they are one man's, the one
// of a dictionary that grades its men first.
std::optional<AboutName> entryByParts(const Library& lib, const QStringList& asked,
                                      const QSet<std::int64_t>& dictionaries)
{
    constexpr int kPagesRead = 200;
    const NameParts parts = nameParts(asked);
    if (parts.ism.isEmpty() || (parts.nisbas.isEmpty() && parts.fathers.isEmpty()) || dictionaries.isEmpty())
        return std::nullopt;
    const std::shared_ptr<SQLiteDB> conn = lib.newSearchConnection();
    if (!conn)
        return std::nullopt;
    const QStringList other = !parts.nisbas.isEmpty() ? QStringList{parts.nisbas.first()} : parts.fathers.first();
    QStringList ids;
    for (const std::int64_t id : dictionaries)
        ids << QString::number(id);
    const QString sql = QStringLiteral("SELECT page_id, book_id FROM pages_fts WHERE pages_fts MATCH ? AND book_id IN (")
        + ids.join(u',') + QStringLiteral(") ORDER BY bm25(pages_fts) LIMIT ") + QString::number(kPagesRead);
    const QHash<std::int64_t, Book> byId = lib.bookById();
    const QSet<std::int64_t> grading = gradingDictionaries(lib, dictionaries);
    std::optional<AboutName> found;
    QStringList foundHeading;
    for (const Statement::Row& row :
         conn->rows(sql, {u'(' + namePhrase(parts.ism) + QStringLiteral(") AND (") + namePhrase(other) + u')'})) {
        const std::optional<Page> page = lib.page(row.integer(0).value_or(0));
        if (!page)
            continue;
        const QString content = footnotesLabelled(page->content);
        for (const auto& [from, line, words] : numberedLines(content)) {
            const QStringList heading = entryName(words, true);
            if (!oneMan(parts, nameParts(heading), 2))
                continue;
            // Two men the words fit: the name does not say which is meant.
            if (found && !sameMan(heading, foundHeading, {}))
                return std::nullopt;
            if (found && (found->passage.bookId == page->bookId || !grading.contains(page->bookId)))
                continue;
            const std::optional<Quoted> q = sentenceAbout(line, Reading{parts.ism, {}, {}, {}});
            if (!q || q->entry == Entry::none)
                continue;
            std::optional<AboutName> a = passageAt(lib, byId.value(page->bookId), *page, content,
                                                   Quoted{from + q->start, from + q->end, Entry::numbered});
            if (a) {
                a->entry = Entry::numbered;
                found = a;
                foundHeading = heading;
            }
        }
    }
    return found;
}

// Of a short form's ranked bearers (their entries' `headings`), the man
// meant, and the other headings the chains say are his. `referred` is the
// entry a dictionary's index leads to; `forCard`: the card's author is asked for.
struct Choice {
    std::optional<AboutName> chosen;
    QSet<qsizetype> hisByChains;
    bool unentered = false; // the man meant has no entry
};

Choice chooseBearer(const Library& lib, const QStringList& folded, const QList<Bearer>& ranked,
                    const QList<QStringList>& headings, const std::optional<AboutName>& referred, bool forCard)
{
    // A son is the one the pages call «ابن X» on at least this many pages.
    constexpr std::int64_t kPagesCallingTheSonSo = 2;
    Choice out{referred, {}};
    // A kunya's index line is a namesake's as often as not («أبو سعيد الأشج
    // هو …»): its bearers' standing and the pages that name them by it say
    // whom it means.
    const bool indexed = referred && !referred->filedAs.isEmpty() && holdsForm(*referred, folded);
    if ((isKunya(folded.first()) || !indexed) && !ranked.isEmpty())
        out.chosen = ranked.first().entry;
    // An index line leads to one man of the form; the one his own entry calls famous by it is the one meant.
    if (indexed) {
        const auto famous = std::find_if(ranked.begin(), ranked.end(), [](const Bearer& b) { return b.famousByIt; });
        if (famous != ranked.end())
            out.chosen = famous->entry;
    }
    // Where the chains name the form alone, whom they name by it says whom it means.
    const std::optional<ChainsMan> meant = chainsBearer(lib, folded, headings);
    // Chains that only lean to a man choose him over a namesake a dictionary
    // calls famous (fame elsewhere is not whom these chains name), never a
    // man it grades discarded or little known over one it does not.
    if (meant && (meant->plain || ranked[meant->heading].standing >= std::min(ranked.first().standing, 1))) {
        if (meant->heading == kNoEntry)
            return Choice{std::nullopt, {}, true};
        out.chosen = ranked[meant->heading].entry;
        out.hisByChains = QSet<qsizetype>(meant->his.begin(), meant->his.end());
        out.hisByChains.insert(meant->heading);
    } else if (!forCard && !indexed && folded.first() == sonOf() && !ranked.isEmpty()
               && ranked.first().known < kPagesCallingTheSonSo) {
        // No page but by chance calls any bearer «ابن X»: the son the books
        // mean has no entry, and what the dictionary says is of namesakes.
        return Choice{std::nullopt, {}, true};
    }
    return out;
}

// The bearers that are the chosen man: the chains' (`his`), and those whose
// heading is one man's with his. A heading that names him by his kunya and
// nisba alone («أبو حميد الساعدي») is completed by another dictionary's
// heading that holds them with his name; a bare heading is no proof the
// other way.
QSet<qsizetype> hisBearers(const QList<QStringList>& headings, const AboutName& chosen, const QStringList& folded,
                           QSet<qsizetype> his)
{
    const QStringList heading = entryName(foldedTokens(chosen.sentence), true);
    const NameParts chosenParts = nameParts(heading);
    const bool byKunyaAlone = chosenParts.ism.isEmpty() && chosenParts.fathers.isEmpty();
    // A note on how his name is spelled is no part of it: his kunyas and nisbas are.
    QStringList named = chosenParts.nisbas;
    for (const QStringList& k : chosenParts.kunyas)
        named += k;
    const auto completes = [&](const QStringList& other) {
        return byKunyaAlone && !nameParts(other).ism.isEmpty()
            && std::all_of(named.begin(), named.end(), [&](const QString& w) { return other.contains(w); })
            && oneMan(chosenParts, nameParts(other), 1, folded);
    };
    for (qsizetype b = 0; b < headings.size(); ++b)
        if (sameMan(headings[b], heading, folded) || completes(headings[b]))
            his.insert(b);
    return his;
}

// His entries in the other dictionaries: one man under his own heading
// there. The one that grades him is quoted first, so it takes `chosen`'s place.
void withHisOtherEntries(const Library& lib, const QList<Bearer>& ranked, const QSet<qsizetype>& his,
                         const QSet<std::int64_t>& dictionaries, const QStringList& folded, AboutName& chosen,
                         QList<AboutName>& alsoHis)
{
    QSet<std::int64_t> books{chosen.passage.bookId};
    for (qsizetype b = 0; b < ranked.size(); ++b) {
        const AboutName& e = ranked[b].entry;
        if (!books.contains(e.passage.bookId) && his.contains(b)) {
            books.insert(e.passage.bookId);
            alsoHis << e;
        }
    }
    // Where another dictionary files him under a form of his name it is not asked by.
    for (const AboutName& e : entriesElsewhere(lib, chosen, dictionaries, folded)) {
        if (!books.contains(e.passage.bookId)) {
            books.insert(e.passage.bookId);
            alsoHis << e;
        }
    }
    const QSet<std::int64_t> grading = gradingDictionaries(lib, dictionaries);
    const auto graded = [&](const AboutName& e) { return grading.contains(e.passage.bookId); };
    const auto judging = std::find_if(alsoHis.begin(), alsoHis.end(), graded);
    if (!graded(chosen) && judging != alsoHis.end()) {
        judging->sharedWith = chosen.sharedWith;
        std::swap(chosen, *judging);
        judging->sharedWith.clear();
    }
}

} // namespace

// The entry to quote first: the one a dictionary's own index points to from
// a short name, a nisba or «ابن X» (unless a numbered entry opens with the
// name itself); for a short form alone, his best-known bearer's entry when
// no index line leads to an entry that holds the form. With the card
// author's `lineage`, an entry filed under another man's name is none.
std::optional<AboutName> firstEntry(const Library& lib, const QStringList& folded,
                                    const QSet<std::int64_t>& dictionaries, bool entered, const QStringList& lineage,
                                    bool* unentered, QList<AboutName>* alsoHis)
{
    // A short form is its best-known bearer's even where a namesake's entry
    // opens with it («8067 أبو حنيفة الكوفي»); the index says whom it means.
    const bool shortForm = isShortForm(folded);
    const std::optional<AboutName> referred =
        entered && !shortForm ? std::nullopt : indexedEntry(lib, folded, dictionaries);
    // The card's author is the man asked for: an index that files the name
    // under another man's full name points to a namesake.
    const auto his = [&](const AboutName& a) {
        return lineage.isEmpty() || lineage.mid(0, a.filedAs.size()) == a.filedAs;
    };
    if (!shortForm) {
        if (referred && his(*referred))
            return referred;
        return entered || !lineage.isEmpty() ? std::nullopt : entryByParts(lib, folded, dictionaries);
    }
    const QList<Bearer> ranked = bearers(lib, folded, dictionaries);
    QList<QStringList> headings;
    for (const Bearer& b : ranked)
        headings << entryName(foldedTokens(b.entry.sentence), true);
    const Choice choice = chooseBearer(lib, folded, ranked, headings, referred, !lineage.isEmpty());
    if (choice.unentered) {
        if (unentered)
            *unentered = true;
        return std::nullopt;
    }
    std::optional<AboutName> chosen = choice.chosen;
    // The card's author is the man asked for: his entry is the bearer's whose heading is his name.
    if (!lineage.isEmpty() && !(chosen && his(*chosen))) {
        const auto own = std::find_if(ranked.begin(), ranked.end(), [&](const Bearer& b) { return his(b.entry); });
        if (own != ranked.end())
            chosen = own->entry;
    }
    if (!chosen || !his(*chosen))
        return std::nullopt;
    const QSet<qsizetype> hisOwn = hisBearers(headings, *chosen, folded, choice.hisByChains);
    chosen->sharedWith = sharedWith(ranked, *chosen, hisOwn);
    if (alsoHis)
        withHisOtherEntries(lib, ranked, hisOwn, dictionaries, folded, *chosen, *alsoHis);
    return chosen;
}

} // namespace quorvel::Reports::BiographyText
