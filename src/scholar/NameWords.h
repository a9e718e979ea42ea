#pragma once

// Which words of the library are names of its people (the narrators of its
// chains, the authors of its catalogue) rather than words of the language,
// read from the library's own tables. The word panel keeps them out of the
// words near in meaning, where a verb of the chains («حدثنا») would otherwise
// find the names it stands beside.
//
// A word counts as a name when it is the whole name of a narrator or an
// author, a word of an author's name, or a word of narrators' names that
// stands in their chains on at least half of the pages that hold it (so
// «حنبل» is a name, while «حسن» and «صالح», used far more often as words, are
// not). A library without chains or authors has no name words.
//
// Reads the library database through the connection it is given; made and
// asked on one thread.

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>

namespace quorvel {

class Library;
class SQLiteDB;

class NameWords {
public:
    explicit NameWords(Library& lib);

    // Whether `word`, in any written form, is a name of the library's people.
    bool contains(const QString& word);

private:
    bool standsInChains(const QString& word, const QList<std::int64_t>& narrators);

    SQLiteDB& db_;
    QSet<QString> names_;                            // whole names and authors' name words
    QHash<QString, QList<std::int64_t>> narrators_; // a word of narrators' names: those narrators
    QHash<QString, bool> asked_;
};

} // namespace quorvel
