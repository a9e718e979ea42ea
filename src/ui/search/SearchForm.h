#pragma once

// The advanced search window's query form without its widgets: the three
// phrase tabs behind five shared fields, the thirteen options, the scope
// (every book, the checked books or an applied scope), the query they make,
// the query read back in words and the scope label. The window binds its
// controls to this and redraws from it after every change.

#include "search/SearchQuery.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace quorvel {

class Library;

class SearchForm {
public:
    static constexpr int tabs = 3;          // and, or, not
    static constexpr int fieldsPerTab = 5;
    static constexpr int recentRows = 30;
    enum Tab { andTab, orTab, notTab };

    // The option check boxes, in the order the window lays them out.
    enum Box {
        matn, hawashi, notes, titles, morph, affix, hamza, tashkeel, digits, semantic, requireAll, ordered, near,
        boxCount
    };
    static bool defaultOn(Box box);

    using Phrases = std::array<QString, fieldsPerTab>;

    SearchForm();

    // The text of each tab as typed, untrimmed.
    std::array<Phrases, tabs> phrases;
    int curTab = andTab;
    std::array<bool, boxCount> boxes{};
    // "البحث بكل المجموعات" (true) or "البحث بواحدة أو أكثر" (false).
    bool allBooks = true;
    // The scope last applied with "اختيار الكتب المحددة".
    std::optional<QList<std::int64_t>> scope;

    // The fields' text becomes the current tab's.
    void saveTab(const Phrases& fields) { phrases[curTab] = fields; }
    // The and-only options (require all, ordered, near) apply on this tab.
    bool andOptionsEnabled() const { return curTab == andTab; }

    // The query the form asks for; `checked` are the books ticked in the outline.
    SearchQuery buildQuery(const QSet<std::int64_t>& checked) const;
    // The books to search: none for every book.
    std::optional<QList<std::int64_t>> effectiveScope(const QSet<std::int64_t>& checked) const;

    // The query in words, one line each.
    static QString explanation(const SearchQuery& query);
    // "[كلها]" or "[أيّها]", after the require-all option.
    QString allButtonTitle() const;
    // "مجال البحث الحالي: …" with the ignored books.
    QString scopeLabel(const Library& lib, const QSet<std::int64_t>& checked) const;

    // Puts a stored query into the form: five phrases a tab, the options,
    // its scope (checking its books) or every book (the checks stay); the
    // and-tab shown.
    void fill(const SearchQuery& query, QSet<std::int64_t>& checked);
    // Empties every tab; the options and the scope stay.
    void clearPhrases();
    // Applies the checked books as the scope, ordered by `sorted`; false
    // when nothing is checked.
    bool applyChecked(const QSet<std::int64_t>& checked,
                      const std::function<QList<std::int64_t>(const QList<std::int64_t>&)>& sorted);
    // Unchecks every book and goes back to every book.
    void clearChecked(QSet<std::int64_t>& checked);

    // The recent list: the newest 30 searches, each title once, with its count.
    struct Recent {
        QString title;
        QString json;
    };
    static QList<Recent> recent(const Library& lib);

    // A phrase as the form takes it: Unicode space separators and tabs
    // trimmed at both ends, line breaks kept.
    static QString trimmed(const QString& phrase);
};

} // namespace quorvel
