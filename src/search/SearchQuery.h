#pragma once

#include "core/Arabic.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quorvel {

// A full-text search request: which phrases must, may or must not occur, and
// how words are matched. It travels as JSON (the last advanced query, saved
// sessions, the search tool); json() and from() are the one form of that text.
struct SearchQuery {
    QStringList andPhrases;
    QStringList orPhrases;
    QStringList notPhrases;
    bool requireAll = true;
    bool ordered = false;
    bool near = false;
    bool inMatn = true;
    bool inHawashi = true;
    bool inNotes = true;
    bool inTitles = false;
    bool morph = false;
    bool affix = false;
    bool hamza = false;
    bool tashkeel = false;
    bool digitsExact = false;
    bool semantic = false;
    std::optional<QList<std::int64_t>> scope; // absent: every book; empty: none

    using Term = QPair<QString, Arabic::Match>;

    // Most word combinations one phrase contributes to the highlight terms.
    static constexpr int maxHighlightCombos = 27;

    // One line for tab titles and history: the and-phrases, then "(a أو b)",
    // then "ليس x، y".
    QString title() const;
    // True when there is neither an and- nor an or-phrase.
    bool isEmpty() const;

    // The query as one compact JSON object; "{}" if it cannot be encoded.
    QString json() const;
    // Decodes json() text. Every key but "scope" is required with its exact
    // JSON type (a Boolean is never 0/1); on any fault the result is absent
    // and, when asked, `error` says which key was wrong.
    static std::optional<SearchQuery> from(const QString& json, QString* error = nullptr);

    // The terms a shown page marks for this query, each once, with its match kind.
    QList<Term> highlightTerms() const;

    bool operator==(const SearchQuery&) const = default;
};

} // namespace quorvel
