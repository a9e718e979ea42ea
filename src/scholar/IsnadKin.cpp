#include "scholar/IsnadWords.h"

#include <algorithm>
#include <optional>
#include <utility>

// Kin words in chains: who «أبيه», «جده», «أمه» or «أخيه» is.

namespace quorvel::Isnad::detail {

namespace {

enum class Kin { none, father, grandfather, other };

struct Relation
{
    Kin kin = Kin::none;
    const char16_t* title = u""; // how a card names him when no name is known («والد فلان»)
    bool male = true;
};

Relation relationOf(const QString& word)
{
    const QString f = fold(word);
    if (isOneOf(f, {u"ابيه", u"ابيها", u"اباه", u"اباها", u"ابوه", u"ابي", u"ابيهما", u"ابيهم"}))
        return {Kin::father, u"والد"};
    if (isOneOf(f, {u"جده", u"جدها", u"جدي", u"جدهما"}))
        return {Kin::grandfather, u"جد"};
    if (isOneOf(f, {u"جدته", u"جدتها", u"جدتي"}))
        return {Kin::other, u"جدة", false};
    if (isOneOf(f, {u"عمه", u"عمها", u"عمي"}))
        return {Kin::other, u"عم"};
    if (isOneOf(f, {u"عمته", u"عمتها", u"عمتي"}))
        return {Kin::other, u"عمة", false};
    if (isOneOf(f, {u"خاله", u"خالها", u"خالي"}))
        return {Kin::other, u"خال"};
    if (isOneOf(f, {u"خالته", u"خالتها", u"خالتي"}))
        return {Kin::other, u"خالة", false};
    if (isOneOf(f, {u"امه", u"امها", u"امي", u"امهما"}))
        // Not «أم فلان», which is a woman's kunya («أم سلمة»).
        return {Kin::other, u"والدة", false};
    if (isOneOf(f, {u"اخيه", u"اخوه", u"اخاه", u"اخيها", u"اخي"}))
        return {Kin::other, u"أخو"};
    if (isOneOf(f, {u"اخته", u"اختها", u"اختي"}))
        return {Kin::other, u"أخت", false};
    return {};
}

// `name` after a noun of kinship: a leading kunya in the genitive
// («والد أبي كثير»).
QString genitive(const QString& name)
{
    QStringList words = name.split(u' ', Qt::SkipEmptyParts);
    if (words.size() > 1 && fold(words.first()) == u"ابو" && !isLineageWord(fold(words[1])))
        words.first() = words.first().first(2) + QChar(0x064A);
    return words.join(u' ');
}

// The generations `student`'s own name gives, nearest first («سالم بن عبد
// الله بن عمر»: عبد الله بن عمر, then عمر).
QStringList ancestorsOf(const QString& student)
{
    QStringList words;
    for (const QString& w : student.split(u' ', Qt::SkipEmptyParts))
        if (!isGloss(fold(w)))
            words.append(w);
    QStringList out;
    for (qsizetype k = 0; k + 1 < words.size(); ++k)
        if (isLineageWord(fold(words[k])))
            out.append(filedName(words.sliced(k + 1).join(u' ')));
    return out;
}

// The fuller name the page gives a student its chains name bare: the one
// name of `onPage` that is his name and a lineage («عمر» of «عمر بن حفص بن
// غياث»); himself when none or several are.
QString fullerOnPage(const QString& student, const QStringList& onPage)
{
    if (student.contains(u' '))
        return student;
    QString found;
    for (const QString& name : onPage) {
        const qsizetype space = name.indexOf(u' ');
        if (space <= 0 || fold(name.left(space)) != fold(student) || ancestorsOf(name).isEmpty()
            || !isLineageWord(fold(name.section(u' ', 1, 1))))
            continue;
        if (!found.isEmpty() && found != name)
            return student;
        found = name;
    }
    return found.isEmpty() ? student : found;
}

QString relativeOf(const QString& student, const Relation& relation)
{
    const QStringList ancestors = ancestorsOf(student);
    if (relation.kin == Kin::father && !ancestors.isEmpty())
        return ancestors.first();
    if (relation.kin == Kin::grandfather && ancestors.size() > 1)
        return ancestors[1];
    return QString::fromUtf16(relation.title) + u' ' + genitive(student);
}

// A relation written without a pronoun («عم», «أخت»), and that relation as
// the kin word of «له» or «لها» («عمه», «أختها»); empty when `word` is none.
QString kinWordOf(const QString& word, const QString& pronoun)
{
    const QString f = fold(word);
    const bool feminine = word.endsWith(u'\u0629');
    QString stem;
    if (isOneOf(f, {u"عم", u"خال", u"جد"}) || (feminine && isOneOf(f, {u"عمه", u"خاله", u"جده"})))
        stem = feminine ? word.chopped(1) + u'\u062A' : word;
    else if (isOneOf(f, {u"اخ"}))
        stem = word + u'\u064A';
    else if (isOneOf(f, {u"اخت"}))
        stem = word;
    return stem.isEmpty() ? QString() : stem + pronoun;
}

// «عن عم له بدري», «عن خالة لها»: a relation and «له» are his kin word,
// the words after them describing him. «عن أخت لحذيفة», «عن ابن لأبي
// واقد»: the ل of belonging before the man named («ابن لهيعة» being a name,
// only before a kunya after «ابن»).
QStringList belonging(QStringList words)
{
    if (words.size() < 2 || !words[1].startsWith(u'\u0644') || words[1].size() < 2)
        return words;
    const QString next = fold(words[1]);
    if (isOneOf(next, {u"له", u"لها"})) {
        const QString kin = kinWordOf(words[0], next == u"له" ? QStringLiteral(u"ه") : QStringLiteral(u"ها"));
        return kin.isEmpty() ? words : QStringList{kin};
    }
    const bool relation = !kinWordOf(words[0], QStringLiteral(u"ه")).isEmpty();
    const bool sonOfKunya = isOneOf(fold(words[0]), {u"ابن", u"بن"}) && isOneOf(next.mid(1), {u"ابي", u"ابو", u"ام"});
    if (relation || sonOfKunya)
        words[1].remove(0, 1);
    return words;
}

// A fallback is a relation's word before a narrator's name: within a
// name's bounds with one word more.
bool withinNameBounds(const QString& name)
{
    constexpr qsizetype longestTitle = 6; // «والدة »
    return name.size() < maxNameLength + longestTitle
        && nameWordCount(name.split(u' ', Qt::SkipEmptyParts)) < maxNameWords + 1;
}

} // namespace

bool isKinWord(const QString& word) { return relationOf(word).kin != Kin::none; }

bool isRelation(const QString& word) { return isKinWord(word) || !kinWordOf(word, QStringLiteral(u"ه")).isEmpty(); }

QStringList withoutKinWord(const QStringList& written, bool afterVerb)
{
    const QStringList words = belonging(written);
    if (words.size() < 2)
        return words;
    // «عن عم أبيها رافع بن عمرو», «جدته أم أبيه أم عياش»: a relative's
    // relative, named.
    if (words.size() > 2
        && (isKinWord(words[0]) || !kinWordOf(words[0], QStringLiteral(u"ه")).isEmpty()
            || isOneOf(fold(words[0]), {u"ام", u"ابو"}))
        && isKinWord(words[1]) && fold(words[1]) != u"ابي")
        return withoutKinWord(words.sliced(1), afterVerb);
    // «جده ابن عباس» names him; «جدته بنت سعيد» describes her by her father.
    const QString second = fold(words[1]);
    if (isLineageWord(second) && !(isOneOf(second, {u"بن", u"ابن"}) && relationOf(words.first()).male))
        return words;
    const QString first = fold(words.first());
    // After «عن», «أبي فلان» is a kunya in the genitive.
    if (first == u"ابي" && !afterVerb)
        return words;
    return isKinWord(words.first()) ? withoutKinWord(words.sliced(1), afterVerb) : words;
}

void nameKin(Chain& route, const QStringList& onPage)
{
    // «قال رجل: حدثني أبي …»: a kin word no student is named before is
    // nobody's relative that the page tells, and one such narrator for every
    // page would join many men.
    while (!route.isEmpty() && std::all_of(route.first().cbegin(), route.first().cend(), isKinWord))
        route.removeFirst();
    // «عن أبيه وعمه عن جده»: relatives heard together are one man's, and so
    // is the kin word of the place after them.
    QString owner;
    for (qsizetype i = 1; i < route.size(); ++i) {
        const QString student = owner.isEmpty() ? route[i - 1].last() : owner;
        if (isKinWord(student))
            continue;
        const bool relatives =
            route[i].size() > 1 && std::all_of(route[i].cbegin(), route[i].cend(), [](const QString& n) { return isKinWord(n); });
        bool unnamed = false;
        for (QString& name : route[i])
            if (const Relation relation = relationOf(name); relation.kin != Kin::none) {
                name = relativeOf(fullerOnPage(student, onPage), relation);
                unnamed = unnamed || !withinNameBounds(name);
            }
        // «عن أبيه عن جده» again and again names each man by all the men
        // before him: past a name's bounds the page no longer tells who he
        // is, and the route ends there.
        if (unnamed) {
            route.resize(i);
            return;
        }
        owner = relatives ? student : QString();
    }
}

} // namespace quorvel::Isnad::detail

namespace quorvel::Isnad {

using namespace detail;

namespace {

constexpr QStringView kFatherTitle = u"والد ";

// «سهيل بن أبي صالح»: سهيل and the father his name gives (أبو صالح); nothing
// for a name without «بن» after its first word.
std::optional<std::pair<QString, QString>> sonAndFather(const QString& name)
{
    const QStringList words = name.split(u' ', Qt::SkipEmptyParts);
    for (qsizetype k = 1; k + 1 < words.size(); ++k)
        if (isOneOf(fold(words[k]), {u"بن", u"ابن"}))
            return std::pair{words.first(k).join(u' '), filedName(words.sliced(k + 1).join(u' '))};
    return std::nullopt;
}

// Whether the words of `shorter` begin `longer`, spelling aside.
bool begins(const QString& shorter, const QString& longer)
{
    const QStringList a = spellingKey(shorter).split(u' ', Qt::SkipEmptyParts);
    const QStringList b = spellingKey(longer).split(u' ', Qt::SkipEmptyParts);
    return a.size() <= b.size() && b.first(a.size()) == a;
}

} // namespace

FatherNames::FatherNames(const QStringList& names)
{
    for (const QString& name : names) {
        byKey_.insert(spellingKey(name), name);
        if (const auto pair = sonAndFather(name))
            fathers_[spellingKey(pair->first)].append(pair->second);
    }
}

QString FatherNames::of(const QString& fallback) const
{
    if (!fallback.startsWith(kFatherTitle))
        return {};
    const QStringList candidates = fathers_.value(spellingKey(filedName(fallback.mid(kFatherTitle.size()))));
    if (candidates.isEmpty())
        return {};
    // Every «سالم بن …» must name one father («سالم بن عبد الله» and
    // «سالم بن أبي الجعد» are two men, and his father stays unnamed).
    QString longest = candidates.first();
    for (const QString& father : candidates)
        if (father.size() > longest.size())
            longest = father;
    if (!std::all_of(candidates.cbegin(), candidates.cend(), [&](const QString& f) { return begins(f, longest); }))
        return {};
    // The fullest form of his name that the library files as a narrator.
    QStringList words = longest.split(u' ');
    while (!words.isEmpty()) {
        if (const auto found = byKey_.constFind(spellingKey(words.join(u' '))); found != byKey_.cend())
            return *found;
        qsizetype cut = words.size() - 1;
        while (cut > 0 && !isOneOf(fold(words[cut]), {u"بن", u"ابن"}))
            --cut;
        words.resize(cut);
    }
    return {};
}

QHash<QString, QString> namedFallbacks(const QStringList& names)
{
    const FatherNames fathers(names);
    QHash<QString, QString> named;
    for (const QString& name : names)
        if (const QString father = fathers.of(name); !father.isEmpty())
            named.insert(name, father);
    return named;
}

} // namespace quorvel::Isnad
