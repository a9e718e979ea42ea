#include "ui/search/SearchForm.h"

#include "core/Arabic.h"
#include "core/BookTitles.h"
#include "core/Characters.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "search/SearchEngine.h"

namespace quorvel {

namespace {

constexpr char kEmptyQuery[] = "اكتب عبارات البحث في الحقول المرقّمة. كل حقل عبارة متّصلة.";
constexpr char kAllOf[] = "تحتوي الصفحة على كلّ من: ";
constexpr char kAnyOf[] = "تحتوي على أيٍّ من: ";
constexpr char kAndJoin[] = " و";
constexpr char kOrdered[] = "بالترتيب نفسه";
// Fixed text: the twelve does not follow the digits preference.
// "متقاربة (في حدود ١٢ كلمة)", the number in the user's digits.
constexpr char kNearBefore[] = "متقاربة (في حدود ";
constexpr char kNearAfter[] = ")";
constexpr char kOrLine[] = "وعلى واحدة على الأقل من: ";
constexpr char kOrJoin[] = " أو ";
constexpr char kNotLine[] = "ولا تحتوي على: ";
constexpr char kListJoin[] = "، ";
constexpr char kPlaces[] = "في: ";
constexpr char kMatnPlace[] = "المتن";
constexpr char kHawashiPlace[] = "الحواشي";
constexpr char kNotesPlace[] = "تعليقاتك";
constexpr char kTitlesPlace[] = "العناوين";
constexpr char kMatching[] = "البحث: ";
constexpr char kMorph[] = "صرفي";
constexpr char kAffix[] = "باللواصق";
constexpr char kHamza[] = "بمراعاة الهمزات";
constexpr char kTashkeel[] = "بمراعاة التشكيل";
constexpr char kDigits[] = "بمراعاة الأرقام";
constexpr char kSemantic[] = "بالمعنى";

QString quoted(const QString& phrase)
{
    return QStringLiteral("«") + phrase + QStringLiteral("»");
}

// "١٢ كلمة": the words a near search spans.
QString nearWords()
{
    static const CountedNoun words(QStringLiteral("كلمة"), QStringLiteral("كلمتان"), QStringLiteral("كلمات"),
                                   QStringLiteral("كلمة"));
    return words.count(SearchEngine::nearDistance, CountedNoun::Case::genitive);
}

QString quotedList(const QStringList& phrases, const char* join)
{
    QStringList out;
    for (const QString& p : phrases)
        out << quoted(p);
    return out.join(QString::fromUtf8(join));
}

QStringList phraseList(const SearchForm::Phrases& fields)
{
    QStringList out;
    for (const QString& field : fields) {
        const QString p = SearchForm::trimmed(field);
        if (!p.isEmpty())
            out << p;
    }
    return out;
}

// The query field of each option box.
bool& flag(SearchQuery& q, SearchForm::Box box)
{
    switch (box) {
    case SearchForm::matn: return q.inMatn;
    case SearchForm::hawashi: return q.inHawashi;
    case SearchForm::notes: return q.inNotes;
    case SearchForm::titles: return q.inTitles;
    case SearchForm::morph: return q.morph;
    case SearchForm::affix: return q.affix;
    case SearchForm::hamza: return q.hamza;
    case SearchForm::tashkeel: return q.tashkeel;
    case SearchForm::digits: return q.digitsExact;
    case SearchForm::semantic: return q.semantic;
    case SearchForm::requireAll: return q.requireAll;
    case SearchForm::ordered: return q.ordered;
    case SearchForm::near: return q.near;
    case SearchForm::boxCount: break;
    }
    Q_UNREACHABLE();
}

} // namespace

bool SearchForm::defaultOn(Box box)
{
    return box == matn || box == hawashi || box == notes || box == requireAll;
}

SearchForm::SearchForm()
{
    for (int b = 0; b < boxCount; ++b)
        boxes[b] = defaultOn(Box(b));
}

QString SearchForm::trimmed(const QString& phrase)
{
    return Characters::trimSpacesAndTabs(phrase).toString();
}

SearchQuery SearchForm::buildQuery(const QSet<std::int64_t>& checked) const
{
    SearchQuery q;
    q.andPhrases = phraseList(phrases[andTab]);
    q.orPhrases = phraseList(phrases[orTab]);
    q.notPhrases = phraseList(phrases[notTab]);
    for (int b = 0; b < boxCount; ++b)
        flag(q, Box(b)) = boxes[b];
    q.scope = effectiveScope(checked);
    return q;
}

std::optional<QList<std::int64_t>> SearchForm::effectiveScope(const QSet<std::int64_t>& checked) const
{
    if (allBooks)
        return std::nullopt;
    if (scope && !scope->isEmpty())
        return scope;
    if (!checked.isEmpty())
        return QList<std::int64_t>(checked.begin(), checked.end());
    return std::nullopt;
}

QString SearchForm::explanation(const SearchQuery& q)
{
    QStringList lines;
    if (q.isEmpty())
        lines << QString::fromUtf8(kEmptyQuery);
    if (!q.andPhrases.isEmpty()) {
        lines << QString::fromUtf8(q.requireAll ? kAllOf : kAnyOf) + quotedList(q.andPhrases, kAndJoin);
        if (q.ordered)
            lines << QString::fromUtf8(kOrdered);
        if (q.near)
            lines << QString::fromUtf8(kNearBefore) + nearWords() + QString::fromUtf8(kNearAfter);
    }
    if (!q.orPhrases.isEmpty())
        lines << QString::fromUtf8(kOrLine) + quotedList(q.orPhrases, kOrJoin);
    if (!q.notPhrases.isEmpty())
        lines << QString::fromUtf8(kNotLine) + quotedList(q.notPhrases, kListJoin);

    QStringList places;
    const std::pair<bool, const char*> placeNames[] = {
        {q.inMatn, kMatnPlace}, {q.inHawashi, kHawashiPlace}, {q.inNotes, kNotesPlace}, {q.inTitles, kTitlesPlace}};
    for (const auto& [on, name] : placeNames)
        if (on)
            places << QString::fromUtf8(name);
    lines << QString::fromUtf8(kPlaces) + places.join(QString::fromUtf8(kListJoin));

    QStringList matching;
    const std::pair<bool, const char*> options[] = {{q.morph, kMorph},       {q.affix, kAffix},
                                                    {q.hamza, kHamza},       {q.tashkeel, kTashkeel},
                                                    {q.digitsExact, kDigits}, {q.semantic, kSemantic}};
    for (const auto& [on, name] : options)
        if (on)
            matching << QString::fromUtf8(name);
    if (!matching.isEmpty())
        lines << QString::fromUtf8(kMatching) + matching.join(QString::fromUtf8(kListJoin));
    return lines.join(u'\n');
}

QString SearchForm::allButtonTitle() const
{
    constexpr char kAllButton[] = "[كلها]";
    constexpr char kAnyButton[] = "[أيّها]";

    return QString::fromUtf8(boxes[requireAll] ? kAllButton : kAnyButton);
}

QString SearchForm::scopeLabel(const Library& lib, const QSet<std::int64_t>& checked) const
{
    constexpr char kScopeBefore[] = "مجال البحث الحالي: ";
    constexpr char kAllBooks[] = "جميع الكتب";
    constexpr char kOneBook[] = "كتاب (";
    constexpr char kExcept[] = " · عدا ";

    QString text = QString::fromUtf8(kScopeBefore);
    const std::optional<QList<std::int64_t>> ids = effectiveScope(checked);
    if (!ids) {
        text += QString::fromUtf8(kAllBooks);
    } else if (ids->size() == 1) {
        const std::shared_ptr<const Catalog> catalog = lib.catalog();
        const QString label = BookTitles::label(*catalog, ids->first());
        text += Arabic::num(1) + u' ' + QString::fromUtf8(kOneBook)
                + (label.isEmpty() ? catalog->bookById.value(ids->first()).title : label) + u')';
    } else {
        static const CountedNoun selected(QStringLiteral("كتاب محدد"), QStringLiteral("كتابان محددان"),
                                          QStringLiteral("كتب محددة"), QStringLiteral("كتابا محددا"));
        text += selected.count(ids->size());
    }
    const qsizetype ignored = lib.ignoredBooks().size();
    static const CountedNoun ignoredBooks(QStringLiteral("كتاب متجاهل"), QStringLiteral("كتابان متجاهلان"),
                                          QStringLiteral("كتب متجاهلة"), QStringLiteral("كتابا متجاهلا"));
    // One ignored book keeps its digit, as a label reads best.
    if (ignored == 1)
        text += QString::fromUtf8(kExcept) + Arabic::num(1) + u' ' + ignoredBooks.form(1);
    else if (ignored > 1)
        text += QString::fromUtf8(kExcept) + ignoredBooks.count(ignored, CountedNoun::Case::genitive);
    return text;
}

void SearchForm::fill(const SearchQuery& q, QSet<std::int64_t>& checked)
{
    const QStringList* lists[] = {&q.andPhrases, &q.orPhrases, &q.notPhrases};
    for (int tab = 0; tab < tabs; ++tab)
        for (int i = 0; i < fieldsPerTab; ++i)
            phrases[tab][i] = lists[tab]->value(i);
    SearchQuery copy = q;
    for (int b = 0; b < boxCount; ++b)
        boxes[b] = flag(copy, Box(b));
    if (q.scope) {
        checked = QSet<std::int64_t>(q.scope->begin(), q.scope->end());
        scope = q.scope;
        allBooks = false;
    } else {
        allBooks = true;
    }
    curTab = andTab;
}

void SearchForm::clearPhrases()
{
    for (Phrases& tab : phrases)
        tab.fill(QString());
}

bool SearchForm::applyChecked(const QSet<std::int64_t>& checked,
                              const std::function<QList<std::int64_t>(const QList<std::int64_t>&)>& sorted)
{
    if (checked.isEmpty())
        return false;
    scope = sorted(QList<std::int64_t>(checked.begin(), checked.end()));
    allBooks = false;
    return true;
}

void SearchForm::clearChecked(QSet<std::int64_t>& checked)
{
    checked.clear();
    scope.reset();
    allBooks = true;
}

QList<SearchForm::Recent> SearchForm::recent(const Library& lib)
{
    QList<Recent> out;
    QSet<QString> seen;
    const QList<Library::HistoryEntry> rows = lib.history();
    for (qsizetype i = 0; i < rows.size() && i < recentRows; ++i) {
        const Library::HistoryEntry& row = rows[i];
        if (seen.contains(row.title))
            continue;
        seen.insert(row.title);
        out.append({row.title + QStringLiteral("  (") + Arabic::num(row.count) + u')', row.json});
    }
    return out;
}

} // namespace quorvel
