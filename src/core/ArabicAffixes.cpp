#include "core/Arabic.h"
#include "core/Characters.h"

#include <algorithm>
#include <list>
#include <mutex>

namespace quorvel::Arabic {

namespace {

// Whether a unit is always a character of its own and never joins a
// neighbour: Latin-1 and Latin Extended (bar CR, which pairs with LF) and the
// Arabic letters and digits. Some letters elsewhere below U+1100 do join (Thai
// and Lao sara am, the Malayalam dot reph), so they are not on the fast path.
bool alwaysOneCharacter(char16_t u)
{
    return (u < 0x0300 && u != u'\r') || (u >= 0x0620 && u <= 0x064A)
        || (u >= 0x0660 && u <= 0x066F) || (u >= 0x0671 && u <= 0x06D5)
        || (u >= 0x06EE && u <= 0x06FF);
}

// Lengths here count user-perceived characters. Normalised Arabic and Latin
// words have one character per unit; anything else is counted by ICU.
qsizetype charCount(QStringView w)
{
    bool simple = true;
    for (const QChar c : w)
        simple = simple && alwaysOneCharacter(c.unicode());
    return simple ? w.size() : Characters::count(w);
}

// Whether `at` falls between two characters of `w`: a prefix or suffix that
// ends inside a character (a letter with a spacing vowel after it) is no
// prefix or suffix of the word.
bool characterBoundary(QStringView w, qsizetype at)
{
    if (at <= 0 || at >= w.size())
        return true;
    if (alwaysOneCharacter(w[at - 1].unicode()) && alwaysOneCharacter(w[at].unicode()))
        return true;
    return Characters::isBoundary(w, at);
}

bool startsWithCharacters(QStringView w, QStringView prefix)
{
    return w.startsWith(prefix) && characterBoundary(w, prefix.size());
}

bool endsWithCharacters(QStringView w, QStringView suffix)
{
    return w.endsWith(suffix) && characterBoundary(w, w.size() - suffix.size());
}

const QString tehMarbutaFolded = QStringLiteral(u"ه");
const QString teh = QStringLiteral(u"ت");
const QString yeh = QStringLiteral(u"ي");
const QString alefLetter = QStringLiteral(u"ا");

// The bases of a word for affix forms: the word itself, then, for a word
// ending in ه, its ت form, and for a word ending in ي, its ا form.
QStringList affixBases(const QString& w)
{
    QStringList bases{w};
    if (charCount(w) < 2)
        return bases;
    if (endsWithCharacters(w, tehMarbutaFolded))
        bases.append(w.left(w.size() - tehMarbutaFolded.size()) + teh);
    if (endsWithCharacters(w, yeh))
        bases.append(w.left(w.size() - yeh.size()) + alefLetter);
    return bases;
}

QStringList affixFormsOf(const QString& w)
{
    QStringList out;
    const QStringList bases = affixBases(w);
    const QStringList& suffixes = affixSuffixes();
    for (qsizetype b = 0; b < bases.size(); ++b) {
        // Only the word itself takes the empty suffix: a bare مدرست is no word.
        const qsizetype firstSuffix = b == 0 ? 0 : 1;
        for (const QString& head : heads(bases[b]))
            for (qsizetype k = firstSuffix; k < suffixes.size(); ++k)
                out.append(head + suffixes[k]);
    }
    return out;
}

// A cache of form sets: recently asked words and their sets, least recently
// used first out. It is bounded because a long session or the tool server
// would otherwise keep thousands of strings for every word ever searched.
// A missing set is computed under the lock, so racing callers for one word
// compute it once.
class FormCache {
public:
    std::shared_ptr<const FormSet> get(const QString& w, QStringList (*compute)(const QString&))
    {
        std::lock_guard lock(affixLock);
        if (const auto it = entries.find(w); it != entries.end()) {
            recency.splice(recency.begin(), recency, it->position);
            return it->forms;
        }
        const QStringList forms = compute(w);
        auto set = std::make_shared<const FormSet>(forms.cbegin(), forms.cend());
        if (entries.size() >= affixCacheCapacity) {
            entries.remove(recency.back());
            recency.pop_back();
        }
        recency.push_front(w);
        entries.insert(w, {set, recency.begin()});
        return set;
    }

    qsizetype size()
    {
        std::lock_guard lock(affixLock);
        return entries.size();
    }

private:
    std::mutex affixLock;
    std::list<QString> recency; // most recent first
    struct Entry {
        std::shared_ptr<const FormSet> forms;
        std::list<QString>::iterator position;
    };
    QHash<QString, Entry> entries;
};

FormCache& affixCache()
{
    static FormCache cache;
    return cache;
}

FormCache& wordFormCache()
{
    static FormCache cache;
    return cache;
}

const QString article = QStringLiteral(u"ال");
const QString hamza = QStringLiteral(u"ء");

// The endings of number a word keeps behind the article (المسلمون،
// الصلاتين); the article takes no pronoun, so الجاريه is no form of جار.
const QStringList& articleEndings()
{
    static const QStringList table = {QString(), QStringLiteral(u"ون"), QStringLiteral(u"ين"),
                                      QStringLiteral(u"ان"), QStringLiteral(u"ات")};
    return table;
}

// The pronouns and, unless `pronounsOnly`, the endings of the light-stem
// table, once each; the empty ending only when `bare`.
QStringList wordEndings(bool bare, bool pronounsOnly)
{
    QStringList out;
    for (const QString& e : affixSuffixes()) {
        if (bare || !e.isEmpty())
            out.append(e);
    }
    if (pronounsOnly)
        return out;
    for (const QString& e : stemSuffixes()) {
        if (!out.contains(e))
            out.append(e);
    }
    return out;
}

// The bases of a word for the forms a page holds it in: its affix bases,
// then, for a word ending in a hamza, the hamza on ي and on و, as it sits
// before an ending (وضوئه، وضوؤه).
QStringList wordBases(const QString& w)
{
    QStringList bases = affixBases(w);
    if (charCount(w) >= 2 && endsWithCharacters(w, hamza)) {
        const QString seatless = w.left(w.size() - hamza.size());
        bases << seatless + QStringLiteral(u"ئ") << seatless + QStringLiteral(u"ؤ");
    }
    return bases;
}

QStringList wordFormsOf(const QString& w)
{
    // A stem shorter than this takes no ending of the light-stem table:
    // دم with one would be half the words of a page.
    constexpr qsizetype kMinEndingStem = 3;
    const bool hasArticle = startsWithCharacters(w, article);
    const bool endings = charCount(hasArticle ? w.mid(article.size()) : w) >= kMinEndingStem;
    // A word ending in ه takes its endings on the ت form only (غيبها is no
    // form of غيبه); its ا form (هداه) takes pronouns only.
    const QStringList bases = wordBases(w);
    const bool feminine = endsWithCharacters(w, tehMarbutaFolded);
    const qsizetype ownBases = affixBases(w).size();
    QStringList out;
    for (qsizetype b = 0; b < bases.size(); ++b) {
        const bool word = b == 0;
        const bool lightEndings = endings && (word ? !feminine : (feminine || b >= ownBases));
        const QStringList behindArticle = lightEndings ? articleEndings() : QStringList{QString()};
        const QStringList behindOthers = wordEndings(word, !lightEndings);
        for (const QString& head : heads(bases[b])) {
            // A head carries the article when the word or its prefix does (بال، لل).
            const QString prefix = head.left(head.size() - bases[b].size());
            const bool withArticle = hasArticle || prefix.contains(article) || prefix.endsWith(QStringLiteral(u"لل"));
            for (const QString& e : withArticle ? behindArticle : behindOthers) {
                // Only the word itself stands bare: a lone مدرست or وضوئ is no word.
                if (!word && e.isEmpty())
                    continue;
                out.append(head + e);
            }
        }
    }
    return out;
}

} // namespace

const QStringList& stemPrefixes()
{
    static const QStringList table = {
        QStringLiteral(u"وال"), QStringLiteral(u"فال"), QStringLiteral(u"بال"), QStringLiteral(u"كال"),
        QStringLiteral(u"لل"), QStringLiteral(u"ال"), QStringLiteral(u"و"), QStringLiteral(u"ف"),
        QStringLiteral(u"ب"), QStringLiteral(u"ك"), QStringLiteral(u"ل"), QStringLiteral(u"س"),
    };
    return table;
}

const QStringList& stemSuffixes()
{
    static const QStringList table = {
        QStringLiteral(u"هما"), QStringLiteral(u"كما"), QStringLiteral(u"تما"), QStringLiteral(u"ها"),
        QStringLiteral(u"هم"), QStringLiteral(u"هن"), QStringLiteral(u"كم"), QStringLiteral(u"كن"),
        QStringLiteral(u"نا"), QStringLiteral(u"ون"), QStringLiteral(u"ين"), QStringLiteral(u"ان"),
        QStringLiteral(u"ات"), QStringLiteral(u"وا"), QStringLiteral(u"تم"), QStringLiteral(u"ه"),
        QStringLiteral(u"ي"), QStringLiteral(u"ك"), QStringLiteral(u"ت"), QStringLiteral(u"ا"),
    };
    return table;
}

const QStringList& affixPrefixes()
{
    static const QStringList table = {
        QString(), QStringLiteral(u"و"), QStringLiteral(u"ف"), QStringLiteral(u"ب"),
        QStringLiteral(u"ك"), QStringLiteral(u"ل"), QStringLiteral(u"ال"), QStringLiteral(u"وال"),
        QStringLiteral(u"فال"), QStringLiteral(u"بال"), QStringLiteral(u"كال"), QStringLiteral(u"لل"),
        QStringLiteral(u"وبال"), QStringLiteral(u"فبال"), QStringLiteral(u"وكال"), QStringLiteral(u"فكال"),
        QStringLiteral(u"ولل"), QStringLiteral(u"فلل"), QStringLiteral(u"وب"), QStringLiteral(u"فب"),
        QStringLiteral(u"وك"), QStringLiteral(u"فك"), QStringLiteral(u"ول"), QStringLiteral(u"فل"),
        QStringLiteral(u"وس"), QStringLiteral(u"فس"), QStringLiteral(u"س"),
    };
    return table;
}

const QStringList& alPrefixes()
{
    static const QStringList table = {
        QString(), QStringLiteral(u"و"), QStringLiteral(u"ف"), QStringLiteral(u"ب"),
        QStringLiteral(u"ك"), QStringLiteral(u"وب"), QStringLiteral(u"فب"), QStringLiteral(u"وك"),
        QStringLiteral(u"فك"),
    };
    return table;
}

const QStringList& lamAlPrefixes()
{
    static const QStringList table = {
        QStringLiteral(u"ل"), QStringLiteral(u"ول"), QStringLiteral(u"فل"),
    };
    return table;
}

const QStringList& affixSuffixes()
{
    static const QStringList table = [] {
        QStringList t{QString()};
        const QStringList pronouns = {
            QStringLiteral(u"ه"), QStringLiteral(u"ها"), QStringLiteral(u"هما"), QStringLiteral(u"هم"),
            QStringLiteral(u"هن"), QStringLiteral(u"ك"), QStringLiteral(u"كما"), QStringLiteral(u"كم"),
            QStringLiteral(u"كن"), QStringLiteral(u"ي"), QStringLiteral(u"ني"), QStringLiteral(u"نا"),
        };
        t += pronouns;
        const QStringList firsts = {
            QStringLiteral(u"ك"), QStringLiteral(u"كم"), QStringLiteral(u"كما"), QStringLiteral(u"ني"),
            QStringLiteral(u"نا"),
        };
        const QStringList seconds = {
            QStringLiteral(u"ه"), QStringLiteral(u"ها"), QStringLiteral(u"هم"), QStringLiteral(u"هما"),
            QStringLiteral(u"هن"),
        };
        for (const QString& a : firsts)
            for (const QString& b : seconds)
                t.append(a + b);
        t += QStringList{QStringLiteral(u"كموه"), QStringLiteral(u"كموها"), QStringLiteral(u"تموه"),
                         QStringLiteral(u"تموها")};
        return t;
    }();
    return table;
}

const QList<SpellingPair>& spellingPairs()
{
    static const QList<SpellingPair> table = {
        {QStringLiteral(u"اسحاق"), QStringLiteral(u"اسحق")},
        {QStringLiteral(u"اولئك"), QStringLiteral(u"اولائك")},
        {QStringLiteral(u"براهيم"), QStringLiteral(u"براهام")},
        {QStringLiteral(u"داود"), QStringLiteral(u"داوود")},
        {QStringLiteral(u"رحمن"), QStringLiteral(u"رحمان")},
        {QStringLiteral(u"سفراين"), QStringLiteral(u"سفرايين")},
        {QStringLiteral(u"سماعيل"), QStringLiteral(u"سمعيل")},
        {QStringLiteral(u"سموات"), QStringLiteral(u"سماوات")},
        {QStringLiteral(u"طاوس"), QStringLiteral(u"طاووس")},
        {QStringLiteral(u"مئه"), QStringLiteral(u"مائه")},
        {QStringLiteral(u"مئت"), QStringLiteral(u"مائت")},
        {QStringLiteral(u"هؤلاء"), QStringLiteral(u"هاؤلاء")},
        {QStringLiteral(u"هذا"), QStringLiteral(u"هاذا")},
        {QStringLiteral(u"هذين"), QStringLiteral(u"هاذين")},
    };
    return table;
}

// The word without its first listed prefix and then its first listed suffix,
// each removed only when more than two letters remain. No check that the
// result is a real stem: كتابهما gives تاب.
QString stem(const QString& w)
{
    // Fewest letters a stem may keep: an affix is removed only when more remain.
    constexpr qsizetype kMinStemLength = 2;
    QString word = w;
    const qsizetype length = charCount(word);
    for (const QString& prefix : stemPrefixes()) {
        if (startsWithCharacters(word, prefix) && length - charCount(prefix) > kMinStemLength) {
            word = word.mid(prefix.size());
            break;
        }
    }
    const qsizetype remaining = charCount(word);
    for (const QString& suffix : stemSuffixes()) {
        if (endsWithCharacters(word, suffix) && remaining - charCount(suffix) > kMinStemLength)
            return word.left(word.size() - suffix.size());
    }
    return word;
}

// For a word with the article: the article forms with their conjunctions and
// prepositions, then the ل forms that absorb the article's alef. Otherwise
// every listed prefix in front of the word, the bare word first.
QStringList heads(const QString& w)
{
    static const QString article = QStringLiteral(u"ال");
    static const QString lam = QStringLiteral(u"ل");
    QStringList out;
    if (startsWithCharacters(w, article)) {
        out.reserve(alPrefixes().size() + lamAlPrefixes().size());
        for (const QString& p : alPrefixes())
            out.append(p + w);
        const QString bare = w.mid(article.size());
        for (const QString& p : lamAlPrefixes())
            out.append(p + lam + bare);
        return out;
    }
    out.reserve(affixPrefixes().size());
    for (const QString& p : affixPrefixes())
        out.append(p + w);
    return out;
}

std::shared_ptr<const FormSet> affixForms(const QString& w)
{
    return affixCache().get(w, affixFormsOf);
}

qsizetype affixCacheSize()
{
    return affixCache().size();
}

std::shared_ptr<const FormSet> wordForms(const QString& w)
{
    return wordFormCache().get(w, wordFormsOf);
}

bool codePointLess(QStringView a, QStringView b)
{
    // Moving the surrogates above the rest of the plane turns UTF-16 order
    // into code-point order.
    const auto key = [](char16_t u) -> char32_t {
        if (u >= 0xE000)
            return u - 0x800;
        if (u >= 0xD800)
            return u + 0x2000;
        return u;
    };
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x != y)
            return key(x) < key(y);
    }
    return a.size() < b.size();
}

QStringList affixHeads(const QString& w)
{
    QStringList out;
    QSet<QString> seen;
    for (const QString& base : affixBases(w)) {
        for (const QString& head : heads(base)) {
            if (!seen.contains(head)) {
                seen.insert(head);
                out.append(head);
            }
        }
    }
    std::sort(out.begin(), out.end(),
              [](const QString& a, const QString& b) { return codePointLess(a, b); });
    return out;
}

QStringList wordHeads(const QString& w)
{
    QStringList out;
    for (const QString& base : wordBases(w)) {
        for (const QString& head : heads(base)) {
            if (!out.contains(head))
                out.append(head);
        }
    }
    return out;
}

// Each pair is applied, both ways, to every spelling found before it, so a
// word with two listed spellings gets all four combinations.
QStringList spellings(const QString& w)
{
    QStringList out{w};
    const auto addReplaced = [&out](const QString& x, const QString& from, const QString& to) {
        if (!x.contains(from))
            return;
        QString y = x;
        y.replace(from, to);
        if (!out.contains(y))
            out.append(y);
    };
    for (const SpellingPair& pair : spellingPairs()) {
        const qsizetype held = out.size();
        for (qsizetype i = 0; i < held; ++i) {
            const QString x = out[i];
            addReplaced(x, pair.a, pair.b);
            addReplaced(x, pair.b, pair.a);
        }
    }
    return out;
}

} // namespace quorvel::Arabic
