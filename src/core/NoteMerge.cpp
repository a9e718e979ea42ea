#include "core/NoteMerge.h"

#include <QHashFunctions>
#include <QStringView>

#include <algorithm>
#include <limits>

namespace quorvel {

namespace {

// Eight bits of filter per piece with two probes: a piece the text lacks
// passes about one time in twenty, and a new note has several such pieces.
constexpr std::size_t kBitsPerPiece = 8;
constexpr std::size_t kFewestWords = 16;
// Pieces per bucket of the index of places: a few pieces share one, which
// keeps the index near three words a piece.
constexpr std::size_t kPiecesPerBucket = 4;
constexpr std::size_t kFewestBuckets = 1024;

std::uint64_t hashAt(const QString& text, qsizetype at)
{
    return qHashBits(text.constData() + at, NoteMerge::gram * sizeof(QChar), 0x9e3779b97f4a7c15ull);
}

qsizetype piecesOf(const QString& text)
{
    return std::max<qsizetype>(text.size() - NoteMerge::gram + 1, 0);
}

} // namespace

std::size_t NoteMerge::PieceHash::operator()(const PieceKey& k) const noexcept
{
    return qHashMulti(0, k.first, k.second);
}

// The filter is built when a note is first asked about: a page that only
// gains notes, one long note say, never needs it.
NoteMerge::NoteMerge(QString text) : text_(std::move(text)) {}

NoteMerge::~NoteMerge() = default;

bool NoteMerge::contains(const QString& note)
{
    if (note.size() < gram)
        return note.isEmpty() || shortPieces(note.size()).contains(pieceKey(note, 0, note.size()));
    if (note.size() > text_.size())
        return false;
    if (bits_.empty())
        index();
    for (qsizetype at = 0; at + gram <= note.size(); ++at)
        if (!maySee(hashAt(note, at)))
            return false;
    // The text's length fits the index's places; past it, a scan.
    if (text_.size() >= std::numeric_limits<std::int32_t>::max()) {
        ++scans_;
        return text_.contains(note);
    }
    return foundByPlaces(note);
}

// Compares the note only where the text holds its rarest piece.
bool NoteMerge::foundByPlaces(const QString& note)
{
    if (lastAt_.empty())
        place();
    const std::size_t mask = lastAt_.size() - 1;
    qsizetype rarest = 0;
    std::size_t bucket = 0;
    std::int32_t fewest = std::numeric_limits<std::int32_t>::max();
    for (qsizetype at = 0; at + gram <= note.size() && fewest > 0; ++at) {
        const std::size_t b = hashAt(note, at) & mask;
        if (inBucket_[b] < fewest) {
            fewest = inBucket_[b];
            rarest = at;
            bucket = b;
        }
    }
    const QStringView wanted(note);
    for (std::int32_t at = fewest > 0 ? lastAt_[bucket] : -1; at >= 0; at = before_[std::size_t(at)]) {
        const qsizetype start = at - rarest;
        if (start < 0 || start + note.size() > text_.size())
            continue;
        ++compared_;
        if (QStringView(text_).mid(start, note.size()) == wanted)
            return true;
    }
    return false;
}

void NoteMerge::append(const QString& note)
{
    // Appended in place: a copy per note would grow with the page's text.
    const qsizetype before = text_.size();
    if (text_.isEmpty() && text_.capacity() < note.size()) {
        text_ = note; // shared, not copied
    } else {
        if (!text_.isEmpty())
            text_ += u'\n';
        text_ += note;
    }
    ++added_;
    if (!bits_.empty())
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

// Adds the pieces the text gained, to the filter and, once it is built, to
// the index of places; when they outgrow either, one twice as large takes
// every piece again, which keeps the work and the memory in proportion to
// the text.
void NoteMerge::index()
{
    const qsizetype pieces = piecesOf(text_);
    if (std::size_t(pieces) * kBitsPerPiece > bits_.size() * 64) {
        std::size_t words = kFewestWords;
        while (words * 64 < std::size_t(pieces) * kBitsPerPiece * 2)
            words *= 2;
        bits_.assign(words, 0);
        indexed_ = 0;
    }
    for (; indexed_ < pieces; ++indexed_)
        see(hashAt(text_, indexed_));
    if (!lastAt_.empty())
        place();
}

void NoteMerge::place()
{
    const qsizetype pieces = piecesOf(text_);
    if (lastAt_.empty() || std::size_t(pieces) > lastAt_.size() * kPiecesPerBucket * 2) {
        std::size_t buckets = kFewestBuckets;
        while (buckets * kPiecesPerBucket < std::size_t(pieces))
            buckets *= 2;
        lastAt_.assign(buckets, -1);
        inBucket_.assign(buckets, 0);
        before_.clear();
        before_.reserve(std::size_t(pieces));
    }
    const std::size_t mask = lastAt_.size() - 1;
    for (qsizetype at = qsizetype(before_.size()); at < pieces; ++at) {
        const std::size_t b = hashAt(text_, at) & mask;
        before_.push_back(lastAt_[b]);
        lastAt_[b] = std::int32_t(at);
        ++inBucket_[b];
    }
}

} // namespace quorvel
