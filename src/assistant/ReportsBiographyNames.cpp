#include "assistant/ReportsBiographyText.h"

#include <QSet>

#include <algorithm>

namespace quorvel::Reports::BiographyText {

namespace {

bool isNisba(const QString& word) { return word.startsWith(QStringLiteral("ال")) && word != QStringLiteral("الله"); }

// Words that give another reading of a name: what follows is the same man's.
bool isAlternative(const QString& word)
{
    return word == QStringLiteral("يقال") || word == QStringLiteral("ويقال") || word == QStringLiteral("قيل")
        || word == QStringLiteral("وقيل") || word == QStringLiteral("او") || word == QStringLiteral("وهو")
        || word == QStringLiteral("هو");
}

// A note on how a name is spelled («بفتح الواو وسكون المهملة»): it and the
// letters it names are no part of the name.
bool opensSpelling(const QString& word)
{
    static const QSet<QString> words{QStringLiteral("بفتح"),   QStringLiteral("بضم"),    QStringLiteral("بكسر"),
                                     QStringLiteral("بسكون"),  QStringLiteral("وفتح"),   QStringLiteral("وضم"),
                                     QStringLiteral("وكسر"),   QStringLiteral("وسكون"),  QStringLiteral("وتشديد"),
                                     QStringLiteral("وتثقيل"), QStringLiteral("وتخفيف"), QStringLiteral("بالتصغير"),
                                     QStringLiteral("مصغر"),   QStringLiteral("بعدها")};
    return words.contains(word);
}

// The letters and marks a spelling note names («الجيم», «المهملة»): a word
// with the article that is none of them is the name going on («البصري»).
bool namedInSpelling(const QString& word)
{
    static const QSet<QString> words = [] {
        QSet<QString> out;
        for (const char* w : {"الالف", "الهمزه", "الباء", "التاء", "الثاء", "الجيم", "الحاء", "الخاء", "الدال", "الذال",
                              "الراء", "الزاي", "السين", "الشين", "الصاد", "الضاد", "الطاء", "الظاء", "العين", "الغين",
                              "الفاء", "القاف", "الكاف", "اللام", "الميم", "النون", "الهاء", "الواو", "الياء",
                              "المهمله", "المعجمه", "الموحده", "المثناه", "التحتانيه", "الفوقانيه", "المشدده",
                              "المخففه", "المضمومه", "المفتوحه", "المكسوره", "الساكنه", "الاولي", "الثانيه", "الثاء"})
            out.insert(QString::fromUtf8(w));
        return out;
    }();
    return words.contains(word);
}

// One element of a name from `at`: «عبد الله», «أبو بكر», or one word.
QStringList element(const QStringList& words, qsizetype& at)
{
    const qsizetype from = at;
    if (at < words.size() && isOpenEnded(words[at]) && !isLineage(words[at]))
        ++at;
    if (at < words.size())
        ++at;
    return words.mid(from, at - from);
}

// Whether the names of `a` stand in `b` in the same order.
bool within(const QList<QStringList>& a, const QList<QStringList>& b)
{
    qsizetype at = 0;
    for (const QStringList& name : a) {
        while (at < b.size() && b[at] != name)
            ++at;
        if (at == b.size())
            return false;
        ++at;
    }
    return true;
}

bool overlaps(const QList<QStringList>& a, const QList<QStringList>& b)
{
    return std::any_of(a.begin(), a.end(), [&](const QStringList& k) { return b.contains(k); });
}

} // namespace

// A name's parts, read as a dictionary heads an entry or a chain names a
// man: «أبو سعد سعيد بن أبي سعيد كيسان المقبري» is the kunya «أبو سعد», the
// given name «سعيد», the father «أبو سعيد» (his other name «كيسان» is
// not the son's) and the nisba «المقبري». A kunya before «بن» is the given name
// («أبو بكر بن أبي شيبة»).
NameParts nameParts(const QStringList& words)
{
    NameParts parts;
    qsizetype at = 0;
    while (at < words.size() && isEntryMark(words[at]))
        ++at;
    bool named = false;
    bool afterFather = false;
    bool spelling = false;
    // After «ويقال» once his father is named, a father is another reading of
    // his, not his grandfather («فلان بن عامر ويقال فلان بن زيد»).
    bool readAgain = false;
    while (at < words.size()) {
        const QString& w = words[at];
        // A spelling note runs to the next kunya, father or nisba.
        if (opensSpelling(w))
            spelling = true;
        if (spelling && w.startsWith(QStringLiteral("ال")) && !namedInSpelling(w))
            spelling = false;
        if (spelling && !isKunya(w) && !isLineage(w)) {
            ++at;
            continue;
        }
        spelling = false;
        if (isLineage(w)) {
            ++at;
            const QStringList father = element(words, at);
            if (father.isEmpty())
                break;
            if (!named && !parts.kunyas.isEmpty()) {
                // «أبو بكر بن …»: the kunya is his name.
                parts.ism = parts.kunyas.takeLast();
                named = true;
            }
            if (readAgain) {
                // Only his father: that reading's forefathers are none of his own reading's.
                if (!afterFather)
                    parts.otherFathers << father;
            } else {
                parts.fathers << father;
            }
            afterFather = true;
            continue;
        }
        if (isAlternative(w)) {
            readAgain = readAgain || !parts.fathers.isEmpty();
            ++at;
            // Another reading of the name is his too, but not his father.
            afterFather = false;
            continue;
        }
        if (isKunya(w)) {
            parts.kunyas << element(words, at);
            afterFather = false;
            continue;
        }
        if (isNisba(w)) {
            parts.nisbas << w;
            ++at;
            afterFather = false;
            continue;
        }
        const QStringList e = element(words, at);
        // «بن أبي سعيد كيسان»: the father's other name is none of his.
        if (!afterFather && !named) {
            parts.ism = e;
            named = true;
        }
    }
    return parts;
}

// Whether two names may be one man's: nothing in them disagrees (his given
// name, his forefathers', a kunya where both give one, nisbas where both
// give some) and at least `agreeing`
// of his given name, father, kunya and nisbas agree, besides the words
// `besides` (a short form both hold says nothing of whom they name).
bool oneMan(const NameParts& a, const NameParts& b, int agreeing, const QStringList& besides)
{
    int agree = 0;
    const auto counted = [&](const QStringList& words) { return besides.isEmpty() || words != besides; };
    // A given name one copy spells with a letter more («عمرون» for «عمرو»)
    // is his only where three other parts agree.
    bool misspelt = false;
    if (!a.ism.isEmpty() && !b.ism.isEmpty()) {
        if (a.ism != b.ism) {
            const QString x = a.ism.join(u' ');
            const QString y = b.ism.join(u' ');
            const QString& shorter = x.size() < y.size() ? x : y;
            const QString& longer = x.size() < y.size() ? y : x;
            if (longer.size() != shorter.size() + 1 || !longer.startsWith(shorter) || shorter.size() < 3)
                return false;
            misspelt = true;
        } else {
            agree += counted(a.ism);
        }
    }
    // His father, and his forefathers as far as both go, one name leaving
    // some out: «عبد الله بن وهب بن مسلم» is not «عبد الله بن وهب بن زمعة».
    // A father one name gives as another reading of it agrees with the other's.
    if (!a.fathers.isEmpty() && !b.fathers.isEmpty()) {
        const bool sameLine =
            a.fathers.first() == b.fathers.first() && (within(a.fathers, b.fathers) || within(b.fathers, a.fathers));
        if (!sameLine && !a.otherFathers.contains(b.fathers.first()) && !b.otherFathers.contains(a.fathers.first()))
            return false;
        ++agree;
    }
    // A man known by two kunyas («أبو عبد الرحمن … المعروف بأبي الزناد»)
    // is told by his name and his father's; without both, another kunya is
    // another man («أبو سعيد المقبري», the father of «أبو سعد»).
    if (!a.kunyas.isEmpty() && !b.kunyas.isEmpty()) {
        const bool named = !a.ism.isEmpty() && a.ism == b.ism && !a.fathers.isEmpty() && !b.fathers.isEmpty();
        if (!overlaps(a.kunyas, b.kunyas) && !named)
            return false;
        const bool onlyTheForm = std::all_of(a.kunyas.begin(), a.kunyas.end(), [&](const QStringList& k) {
            return !b.kunyas.contains(k) || !counted(k);
        });
        agree += !onlyTheForm;
    }
    // Two names that both give nisbas and share none are two men («يحيى بن
    // سعيد الأنصاري», «يحيى بن سعيد القطان»).
    if (!a.nisbas.isEmpty() && !b.nisbas.isEmpty()
        && std::none_of(a.nisbas.begin(), a.nisbas.end(), [&](const QString& n) { return b.nisbas.contains(n); }))
        return false;
    int nisbasShared = 0;
    for (const QString& n : a.nisbas)
        nisbasShared += b.nisbas.contains(n) && counted({n});
    agree += std::min(nisbasShared, 1);
    // A misspelt name needs three other parts, each shared nisba one of them.
    if (misspelt)
        return agree - std::min(nisbasShared, 1) + nisbasShared >= std::max(agreeing, 3);
    return agree >= agreeing;
}

// Two entry headings (or a heading and a name) are one man's where two
// parts of them agree besides the form and none disagrees.
bool sameMan(const QStringList& a, const QStringList& b, const QStringList& form)
{
    return oneMan(nameParts(a), nameParts(b), 2, form);
}

// A word that makes the name after it another man's: his brother's, client's,
// companion's, kin's («عبد الله بن مسلم أخي الزهري»).
bool isRelation(const QString& word)
{
    static const QSet<QString> words{
        QStringLiteral("اخو"),  QStringLiteral("اخي"), QStringLiteral("اخا"),  QStringLiteral("اخت"),
        QStringLiteral("والد"), QStringLiteral("ولد"), QStringLiteral("مولي"), QStringLiteral("صاحب"),
        QStringLiteral("عم"),   QStringLiteral("خال"), QStringLiteral("جار"),  QStringLiteral("امراه"),
        QStringLiteral("زوج"),  QStringLiteral("ختن"), QStringLiteral("سبط"),  QStringLiteral("كاتب"),
        QStringLiteral("وكيل"), QStringLiteral("ابنه"), QStringLiteral("ابنت")};
    return words.contains(word);
}

} // namespace quorvel::Reports::BiographyText
