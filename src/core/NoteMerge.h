#pragma once

// The notes merged into one page's note during an import: each imported
// note is added on a line of its own unless the text holds it already.
// Whether it does is answered without a scan of the whole text where it
// can be: a note shorter than a piece is looked up in the set of the text's
// pieces of its length; a longer one is first asked of a filter of the
// text's pieces (a note with a piece the text lacks cannot be in it), and
// only one that may be is looked for in the text. The memory is in
// proportion to the page's text. One thread at a time.

#include <QSet>
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
    // Notes appended so far.
    int added() const { return added_; }
    // Times the whole text was searched for a note.
    int scans() const { return scans_; }

    // Whether the text holds `note` (on a line, or within or across lines).
    bool contains(const QString& note);
    // Adds `note` on a line of its own.
    void append(const QString& note);

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

    QString text_;          // the page's note with what was merged so far
    QSet<QString> lines_;   // its lines, which answer the common repeat at once
    std::vector<std::uint64_t> bits_;
    qsizetype indexed_ = 0; // pieces of text_ in the filter
    std::array<std::unique_ptr<PieceSet>, gram> shortPieces_; // by length, built when first asked
    int added_ = 0;
    int scans_ = 0;
};

} // namespace quorvel
