#pragma once

// The reader's analysis panels (a word, the page's chain of narrators, the
// page's sources, the book's other editions, the collation of a page with
// another edition, the books a phrase passed through) and the in-app links
// they carry.
// A panel is built away from the windows, so it is a plain styled text: runs
// that each say their font, colour role, link, background and strike. The
// window that shows it turns it into a document on its own thread.

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

namespace quorvel {

class Library;
struct Book;
struct Page;

namespace PanelText {

// A run's colour: a role the showing window resolves with its palette, or a
// colour of its own.
enum class Tone { label, secondary, gold, emerald, ink, custom };
enum class Face { ui, reader };

struct Run {
    QString text;
    Face face = Face::ui;
    double size = 13;
    QFont::Weight weight = QFont::Normal;
    Tone tone = Tone::label;
    QColor color;      // for Tone::custom
    QString link;      // empty: no link
    QColor background; // invalid: none
    bool strike = false;
    bool operator==(const Run&) const = default;
};

struct Text {
    QList<Run> runs;
    // Every run's text in order.
    QString plain() const;
    Text& operator+=(const Run& run)
    {
        runs.append(run);
        return *this;
    }
};

inline constexpr const char* pageScheme = "quorvel://page/";
inline constexpr const char* searchScheme = "quorvel://search/";
inline constexpr const char* collateScheme = "quorvel://collate/";
inline constexpr const char* narratorScheme = "quorvel://narrator/";
inline constexpr const char* askScheme = "quorvel://ask/";

// "quorvel://page/<book>/<seq>", in Latin digits.
QString pageURL(std::int64_t bookId, std::int64_t seq);
// "quorvel://search/" + the text with letters, marks and digits of every
// script kept as they are and everything else as %XX of its UTF-8 bytes.
QString searchURL(const QString& text);
// "quorvel://narrator/<id>": the card of one narrator of the graph.
QString narratorURL(std::int64_t narratorId);
// "quorvel://ask/" + a question for the research assistant, encoded as
// searchURL encodes its text.
QString askURL(const QString& question);
// Decodes the text of a search or ask link; nothing when it is not valid
// percent-encoded UTF-8.
std::optional<QString> decodeSearch(const QString& encoded);
// "ج<vol> ص<num>", the seq standing in for a missing printed number.
QString pageLabel(const std::optional<QString>& vol, std::optional<std::int64_t> num, std::int64_t seq);

// The first `count` user-perceived characters of `text`.
QString leftCharacters(const QString& text, int count);

Run head(const QString& text);
Run text(const QString& text, Tone tone = Tone::label, double size = 13);
Run link(const QString& text, const QString& target);
Run reading(const QString& text);

// The word a reader means by `text`, as the word panel takes it: without its
// marks or a footnote's number glued to its end; nothing when what is left is
// no word (a number, a mark, several words).
std::optional<QString> wordOf(const QString& text);

// The panels. Each reads the library through its main connection.
Text word(Library& lib, const QString& word);
Text isnad(Library& lib, const Page& page);
// One narrator's card: whom he narrated from and who from him, each a link
// to that narrator's card, and a link that asks for his biography.
Text narrator(Library& lib, std::int64_t narratorId);
Text reuse(Library& lib, std::int64_t pageId);
Text editions(Library& lib, const Book& book, std::int64_t pageId);
Text collate(Library& lib, std::int64_t pageId, std::int64_t otherBook);
Text genealogy(Library& lib, const QString& query);

} // namespace PanelText

} // namespace quorvel
