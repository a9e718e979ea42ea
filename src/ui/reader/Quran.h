#pragma once

// The Quran as the Quran tab reads it: a flat list of verses taken from the
// library's Quran book (no special database), the Mushaf page of each verse
// when a book carries the 604-page numbering, the fixed juz table, the
// citation of a verse or a range, and the optional Uthmani script read from
// the application's "quran-uthmani.txt".
//
// A verse's position in `ayat` is its flat index: the key the view, the
// rendered text and the selection use. Verse keys elsewhere (the Uthmani map,
// the page join) are sura × 1000 + verse.

#include "core/QuranLines.h"
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace quorvel {

class Library;

struct Ayah {
    int sura = 0;
    int n = 0;          // verse number inside the sura, from 1
    QString text;       // as stored in the book, basmala removed
    QString norm;       // Arabic::normalize(text, rasm: true)
    QString plain;      // the normal form of the text in the plain spelling the books quote it in
    std::optional<int> page; // Mushaf page
};

class QuranText {
public:
    static constexpr int suraCount = 114;
    // A book with fewer verses is not a Quran text the tab can show.
    static constexpr int minimumAyat = 6000;
    // A usable book whose highest page sequence is above this carries Mushaf pages.
    static constexpr std::int64_t pagesBookMinSeq = 500;
    static constexpr int juzCount = 30;

    // The Quran of the library: the verses of the best-ranked usable Quran
    // book, joined with the pages of the first usable book that carries the
    // Mushaf numbering; nothing when no usable Quran book is installed. A
    // book is usable when it yields at least 6000 verses and every sura
    // 1-114 forms one contiguous run in it.
    static std::shared_ptr<const QuranText> load(Library& lib);
    // False when no book of the catalogue could carry the Quran, so that
    // load() would find nothing; known without reading a page.
    static bool mayBeInstalled(const Library& lib);
    // The verses of one book's pages, in page order; empty for a book
    // without verse lines.
    static QList<Ayah> parse(Library& lib, std::int64_t book);

    // A line of the Quran book's own "sura|verse|text" markup, read by the
    // engine's one rule; the numbers are as written, not checked against the
    // Quran's ranges.
    using VerseLine = QuranLines::VerseLine;
    static std::optional<VerseLine> verseLine(const QString& line) { return QuranLines::verseLine(line); }

    // True when every sura 1-114 has verses and each forms one run.
    static bool complete(const QList<Ayah>& ayat);

    // The number of verses of sura s (clamped to 1-114).
    int count(int s) const;
    // The flat index of verse a of sura s, both clamped into range.
    int index(int s, int a) const;
    // The juz 1-30 of the verse at flat index i (clamped into `ayat`).
    int juzOf(int i) const;
    // "[name: n]" or, for j after i in the same sura, "[name: n-m]"; a range
    // into another sura cites i alone.
    QString cite(int i, std::optional<int> j = std::nullopt) const;

    // The flat indices, in order, of the verses whose normal form holds
    // every one of `terms` (normalised words) as a plain substring.
    QList<int> search(const QStringList& terms) const;

    // The sura's name; sura numbers are clamped to 1-114.
    static QString name(int s);
    // The consonantal skeleton: marks, alifs and the forms normalising folds
    // removed, so that a plain and an Uthmani writing compare equal.
    static QString skel(const QString& text);
    // The skeleton with its alifs: marks and the forms normalising folds
    // removed, the wasla alif written plain. Tells «لا» from «إلا».
    static QString fold(const QString& text);

    static const QString& basmala();
    // The Uthmani basmala; nothing when no Uthmani text is available.
    static std::optional<QString> uthmaniBasmala();
    // The Uthmani text by verse key, read once per process from the
    // application's resource; empty when it is missing or unreadable.
    static const QHash<int, QString>& uthmani();
    // The Uthmani map of one "sura|verse|text" file; empty when unreadable.
    static QHash<int, QString> readUthmani(const QString& path);
    // Where the Uthmani resource is looked for, first found wins: the
    // installed resources folder, then beside the executable (a build tree).
    static QString uthmaniPath();
    // The (sura, verse) each juz starts at.
    static const std::array<std::pair<int, int>, juzCount>& juz();

    static int key(int sura, int verse) { return sura * 1000 + verse; }

    QList<Ayah> ayat;
    std::array<int, suraCount> suraStart{};
    std::array<int, suraCount> suraLength{};
    std::int64_t textBook = 0;
    std::optional<std::int64_t> pagesBook;
    QHash<int, std::int64_t> pageSeq; // Mushaf page → page sequence in pagesBook

    // Fills suraStart and suraLength from `ayat`; false when the verses are not a
    // complete text (see complete()).
    bool buildSuraTables();
};

} // namespace quorvel
