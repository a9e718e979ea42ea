#include "search/SearchQuery.h"

#include "core/Json.h"

#include <array>

namespace quorvel {

namespace {

// The JSON keys beside their members, so that writing and reading cannot drift apart.
template <typename T>
struct Field {
    const char* key;
    T SearchQuery::*member;
};

// The flags in their field order.
constexpr std::array<Field<bool>, 13> kFlagFields{{
    {"requireAll", &SearchQuery::requireAll},
    {"ordered", &SearchQuery::ordered},
    {"near", &SearchQuery::near},
    {"inMatn", &SearchQuery::inMatn},
    {"inHawashi", &SearchQuery::inHawashi},
    {"inNotes", &SearchQuery::inNotes},
    {"inTitles", &SearchQuery::inTitles},
    {"morph", &SearchQuery::morph},
    {"affix", &SearchQuery::affix},
    {"hamza", &SearchQuery::hamza},
    {"tashkeel", &SearchQuery::tashkeel},
    {"digitsExact", &SearchQuery::digitsExact},
    {"semantic", &SearchQuery::semantic},
}};

constexpr std::array<Field<QStringList>, 3> kListFields{{
    {"andPhrases", &SearchQuery::andPhrases},
    {"orPhrases", &SearchQuery::orPhrases},
    {"notPhrases", &SearchQuery::notPhrases},
}};

const QString orJoin = QStringLiteral(" أو ");
const QString notLead = QStringLiteral("ليس ");
const QString notJoin = QStringLiteral("، ");

} // namespace

QString SearchQuery::title() const
{
    QStringList parts;
    for (const QString& p : andPhrases)
        if (!p.isEmpty())
            parts << p;
    if (!orPhrases.isEmpty())
        parts << "(" + orPhrases.join(orJoin) + ")";
    if (!notPhrases.isEmpty())
        parts << notLead + notPhrases.join(notJoin);
    return parts.join(' ');
}

bool SearchQuery::isEmpty() const
{
    return andPhrases.isEmpty() && orPhrases.isEmpty();
}

QString SearchQuery::json() const
{
    Json::Value object = Json::Value::object();
    for (const auto& f : kListFields)
        object[f.key] = Json::toJson(this->*f.member);
    for (const auto& f : kFlagFields)
        object[f.key] = this->*f.member;
    if (scope) {
        Json::Value ids = Json::Value::array();
        for (std::int64_t id : *scope)
            ids.push_back(id);
        object["scope"] = std::move(ids);
    }
    const std::string text = Json::dump(object);
    return text.empty() ? QStringLiteral("{}") : QString::fromStdString(text);
}

std::optional<SearchQuery> SearchQuery::from(const QString& json, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<SearchQuery> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    const std::optional<Json::Value> parsed = Json::parse(json.toUtf8());
    if (!parsed)
        return fail(QStringLiteral("not valid JSON"));
    if (!parsed->is_object())
        return fail(QStringLiteral("not a JSON object"));
    const Json::Value& object = *parsed;

    // Built aside and returned only whole: a fault anywhere leaves nothing applied.
    SearchQuery q;
    for (const auto& f : kListFields) {
        const auto it = object.find(f.key);
        if (it == object.end())
            return fail(QStringLiteral("missing \"%1\"").arg(f.key));
        if (!it->is_array())
            return fail(QStringLiteral("\"%1\" is not an array of strings").arg(f.key));
        QStringList list;
        for (const Json::Value& item : *it) {
            const auto text = Json::asString(item);
            if (!text)
                return fail(QStringLiteral("\"%1\" is not an array of strings").arg(f.key));
            list << *text;
        }
        q.*f.member = list;
    }
    for (const auto& f : kFlagFields) {
        if (object.find(f.key) == object.end())
            return fail(QStringLiteral("missing \"%1\"").arg(f.key));
        const auto value = Json::strictBool(object, f.key);
        if (!value)
            return fail(QStringLiteral("\"%1\" is not a Boolean").arg(f.key));
        q.*f.member = *value;
    }
    const auto scope = object.find("scope");
    if (scope != object.end() && !scope->is_null()) {
        if (!scope->is_array())
            return fail(QStringLiteral("\"scope\" is not an array of integers"));
        QList<std::int64_t> ids;
        for (const Json::Value& item : *scope) {
            const auto id = Json::asInt(item);
            if (!id)
                return fail(QStringLiteral("\"scope\" is not an array of integers"));
            ids << *id;
        }
        q.scope = ids;
    }
    return q;
}

// The and- then or-phrases written out as highlight terms: a number in every
// digit family (unless digits are exact), a word as its stem under morph,
// each phrase capped at maxHighlightCombos combinations, each term once.
QList<SearchQuery::Term> SearchQuery::highlightTerms() const
{
    const Arabic::Match mode = morph ? Arabic::Match::stem
                               : affix ? Arabic::Match::affix
                                       : Arabic::Match::word;
    QList<Term> out;
    QSet<QString> seen;
    for (const QStringList* list : {&andPhrases, &orPhrases}) {
        for (const QString& phrase : *list) {
            const QStringList words = Arabic::queryWords(phrase, false).words;
            if (words.isEmpty())
                continue;
            QList<QStringList> combos{QStringList{}};
            for (const QString& word : words) {
                QStringList alternatives{word};
                if (Arabic::isDigits(word)) {
                    if (!digitsExact)
                        for (const QString& form : Arabic::digitForms(word))
                            if (!alternatives.contains(form))
                                alternatives << form;
                } else if (morph && !Arabic::isWild(word)) {
                    alternatives = QStringList{Arabic::stem(word)};
                }
                QList<QStringList> next;
                for (const QStringList& combo : combos)
                    for (const QString& alt : alternatives)
                        next << (QStringList(combo) << alt);
                if (next.size() > maxHighlightCombos)
                    next.resize(maxHighlightCombos);
                combos = std::move(next);
            }
            for (const QStringList& combo : combos) {
                const QString term = combo.join(' ');
                if (!seen.contains(term)) {
                    seen.insert(term);
                    out << Term{term, mode};
                }
            }
        }
    }
    return out;
}

} // namespace quorvel
