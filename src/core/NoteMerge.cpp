#include "core/NoteMerge.h"

#include <QHashFunctions>

#include <algorithm>

namespace quorvel {

namespace {

constexpr std::size_t kBitsPerPiece = 16;
constexpr std::size_t kFewestWords = 16;

std::uint64_t hashAt(const QString& text, qsizetype at)
{
    return qHashBits(text.constData() + at, NoteMerge::gram * sizeof(QChar), 0x9e3779b97f4a7c15ull);
}

} // namespace

std::size_t NoteMerge::PieceHash::operator()(const PieceKey& k) const noexcept
{
    return qHashMulti(0, k.first, k.second);
}

NoteMerge::NoteMerge(QString text) : text_(std::move(text))
{
    for (const QString& line : text_.split(u'\n'))
        lines_.insert(line);
    index();
}

NoteMerge::~NoteMerge() = default;

bool NoteMerge::contains(const QString& note)
{
    if (lines_.contains(note))
        return true;
    if (note.size() < gram)
        return note.isEmpty() || shortPieces(note.size()).contains(pieceKey(note, 0, note.size()));
    if (!bits_.empty()) {
        for (qsizetype at = 0; at + gram <= note.size(); ++at)
            if (!maySee(hashAt(note, at)))
                return false;
    }
    ++scans_;
    return text_.contains(note);
}

void NoteMerge::append(const QString& note)
{
    // Appended in place: a copy per note would grow with the page's text.
    const qsizetype before = text_.size();
    if (!text_.isEmpty())
        text_ += u'\n';
    text_ += note;
    lines_.insert(note);
    ++added_;
    index();
    for (qsizetype length = 1; length < gram; ++length) {
        if (!shortPieces_[length])
            continue;
        for (qsizetype at = std::max<qsizetype>(before - length + 1, 0); at + length <= text_.size(); ++at)
            shortPieces_[length]->insert(pieceKey(text_, at, length));
    }
}

NoteMerge::PieceKey NoteMerge::pieceKey(const QString& text, qsizetype at, qsizetype length)
{
    PieceKey key{0, 0};
    for (qsizetype i = 0; i < length; ++i) {
        std::uint64_t& half = i < 4 ? key.first : key.second;
        half = half << 16 | text.at(at + i).unicode();
    }
    return key;
}

// Built when a note of that length is first asked about, then kept up to
// date by append().
const NoteMerge::PieceSet& NoteMerge::shortPieces(qsizetype length)
{
    std::unique_ptr<PieceSet>& set = shortPieces_[length];
    if (!set) {
        set = std::make_unique<PieceSet>();
        for (qsizetype at = 0; at + length <= text_.size(); ++at)
            set->insert(pieceKey(text_, at, length));
    }
    return *set;
}

bool NoteMerge::maySee(std::uint64_t h) const
{
    const std::size_t mask = bits_.size() * 64 - 1;
    const std::size_t a = h & mask;
    const std::size_t b = (h >> 32 | h << 32) & mask;
    return (bits_[a / 64] >> (a % 64) & 1) && (bits_[b / 64] >> (b % 64) & 1);
}

void NoteMerge::see(std::uint64_t h)
{
    const std::size_t mask = bits_.size() * 64 - 1;
    const std::size_t a = h & mask;
    const std::size_t b = (h >> 32 | h << 32) & mask;
    bits_[a / 64] |= std::uint64_t(1) << (a % 64);
    bits_[b / 64] |= std::uint64_t(1) << (b % 64);
}

// Adds the pieces the text gained; when they outgrow the filter, a filter
// twice as large takes every piece again, which keeps the work and the
// memory in proportion to the text.
void NoteMerge::index()
{
    const qsizetype pieces = std::max<qsizetype>(text_.size() - gram + 1, 0);
    if (std::size_t(pieces) * kBitsPerPiece > bits_.size() * 64) {
        std::size_t words = kFewestWords;
        while (words * 64 < std::size_t(pieces) * kBitsPerPiece * 2)
            words *= 2;
        bits_.assign(words, 0);
        indexed_ = 0;
    }
    for (; indexed_ < pieces; ++indexed_)
        see(hashAt(text_, indexed_));
}

} // namespace quorvel
