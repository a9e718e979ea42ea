#pragma once

// The notes merged into one page's note during an import: each imported
// note is added on a line of its own unless the text holds it already.
// Whether it does is answered without a scan of the whole text: a note
// shorter than a piece is looked up in the set of the text's pieces of its
// length; a longer one is first asked of a filter of the text's pieces (a
// note with a piece the text lacks cannot be in it), and one that may be is
// looked for only where the text holds its rarest piece, through an index
// of where each piece lies, built the first time the filter cannot answer.
// A note is then compared at as many places as its rarest piece occurs, so
// a page whose text already holds every note (each with a piece of its own)
// is merged in time that grows with its notes, not with their square. The
// memory is in proportion to the page's text. One thread at a time.

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

namespace quorvel {

class NoteMerge {
public:
    explicit NoteMerge(QString text);
    ~NoteMerge();
    NoteMerge(const NoteMerge&) = delete;
    NoteMerge& operator=(const NoteMerge&) = delete;

    const QString& text() const { return text_; }
    // Gives the text away; the merge is spent after it.
    QString takeText() { return std::move(text_); }
    // Notes appended so far.
    int added() const { return added_; }
    // Times the whole text was searched for a note.
    int scans() const { return scans_; }
    // Places of the text a note was compared at.
    qint64 compared() const { return compared_; }

    // Whether the text holds `note` (on a line, or within or across lines).
    bool contains(const QString& note);
    // Adds `note` on a line of its own.
    void append(const QString& note);
    // Room for a text of `units` UTF-16 units, so that appending never
    // copies the text nor holds two of it.
    void reserve(qsizetype units) { text_.reserve(units); }

    // Notes shorter than this are answered by the sets of pieces.
    static constexpr qsizetype gram = 8;

private:
    // A piece shorter than `gram` is its own key: seven UTF-16 units fit in
    // 112 bits, so two pieces never share one.
    using PieceKey = std::pair<std::uint64_t, std::uint64_t>;
    struct PieceHash {
        std::size_t operator()(const PieceKey& k) const noexcept;
    };
    using PieceSet = std::unordered_set<PieceKey, PieceHash>;

    static PieceKey pieceKey(const QString& text, qsizetype at, qsizetype length);
    const PieceSet& shortPieces(qsizetype length);
    bool maySee(std::uint64_t h) const;
    void see(std::uint64_t h);
    void index();
    void place();
    bool foundByPlaces(const QString& note);

    QString text_;          // the page's note with what was merged so far
    std::vector<std::uint64_t> bits_;
    qsizetype indexed_ = 0; // pieces of text_ in the filter
    std::array<std::unique_ptr<PieceSet>, gram> shortPieces_; // by length, built when first asked
    // Where the pieces lie, once asked for: pieces share a bucket by their
    // hash; each bucket keeps its last place and how many it holds, each
    // place the bucket's place before it (-1 at the first).
    std::vector<std::int32_t> lastAt_;
    std::vector<std::int32_t> inBucket_;
    std::vector<std::int32_t> before_;
    int added_ = 0;
    int scans_ = 0;
    qint64 compared_ = 0;
};

} // namespace quorvel
