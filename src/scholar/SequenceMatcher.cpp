#include "scholar/SequenceMatcher.h"

#include <algorithm>
#include <tuple>

namespace quorvel {

SequenceMatcher::SequenceMatcher(std::vector<std::int64_t> a, std::vector<std::int64_t> b)
    : a_(std::move(a)), b_(std::move(b)), runs_(b_.size()), nextRuns_(b_.size())
{
    // Twice the sequences' length bounds the flat table, so its size stays
    // in proportion to the input whatever the ids.
    const std::int64_t denseLimit = std::int64_t(2 * (a_.size() + b_.size()) + 16);
    auto dense = [&](std::int64_t element) { return element >= 0 && element < denseLimit; };
    std::int64_t largest = -1;
    for (std::int64_t element : b_)
        if (dense(element))
            largest = std::max(largest, element);
    denseStart_.assign(size_t(largest + 2), 0);
    for (std::int64_t element : b_)
        if (dense(element))
            ++denseStart_[size_t(element) + 1];
    for (size_t e = 1; e < denseStart_.size(); ++e)
        denseStart_[e] += denseStart_[e - 1];
    densePositions_.resize(denseStart_.empty() ? 0 : size_t(denseStart_.back()));
    std::vector<qsizetype> fill(denseStart_.begin(), denseStart_.end());
    for (qsizetype j = 0; j < qsizetype(b_.size()); ++j) {
        const std::int64_t element = b_[size_t(j)];
        if (dense(element))
            densePositions_[size_t(fill[size_t(element)]++)] = j;
        else
            b2j_[element].push_back(j);
    }
}

std::pair<const qsizetype*, const qsizetype*> SequenceMatcher::positions(std::int64_t element) const
{
    if (element >= 0 && size_t(element) + 1 < denseStart_.size())
        return {densePositions_.data() + denseStart_[size_t(element)],
                densePositions_.data() + denseStart_[size_t(element) + 1]};
    const auto it = b2j_.constFind(element);
    if (it == b2j_.cend())
        return {nullptr, nullptr};
    return {it->data(), it->data() + it->size()};
}

SequenceMatcher::Block SequenceMatcher::findLongestMatch(qsizetype alo, qsizetype ahi, qsizetype blo,
                                                         qsizetype bhi) const
{
    Block best{alo, blo, 0};
    // Run lengths ending at each position of b in the previous row of a,
    // indexed by position: two flat rows, all zero between calls, replace
    // difflib's dictionaries. Only the positions touched are cleared, so a
    // row costs its matches.
    std::vector<qsizetype>& previous = runs_;
    std::vector<qsizetype>& current = nextRuns_;
    std::vector<qsizetype>& touchedPrevious = touched_;
    std::vector<qsizetype>& touchedCurrent = nextTouched_;
    touchedPrevious.clear();
    touchedCurrent.clear();
    for (qsizetype i = alo; i < ahi; ++i) {
        {
            const auto [first, last] = positions(a_[size_t(i)]);
            for (auto at = std::lower_bound(first, last, blo); at != last; ++at) {
                const qsizetype j = *at;
                if (j >= bhi)
                    break;
                const qsizetype k = (j > 0 ? previous[size_t(j - 1)] : 0) + 1;
                current[size_t(j)] = k;
                touchedCurrent.push_back(j);
                if (k > best.size)
                    best = {i - k + 1, j - k + 1, k};
            }
        }
        for (qsizetype j : touchedPrevious)
            previous[size_t(j)] = 0;
        touchedPrevious.clear();
        std::swap(previous, current);
        std::swap(touchedPrevious, touchedCurrent);
    }
    for (qsizetype j : touchedPrevious)
        previous[size_t(j)] = 0;
    return best;
}

QList<SequenceMatcher::Block> SequenceMatcher::matchingBlocks() const
{
    struct Range {
        qsizetype alo, ahi, blo, bhi;
    };
    std::vector<Range> stack{{0, qsizetype(a_.size()), 0, qsizetype(b_.size())}};
    std::vector<Block> found;
    while (!stack.empty()) {
        const Range r = stack.back();
        stack.pop_back();
        const Block m = findLongestMatch(r.alo, r.ahi, r.blo, r.bhi);
        if (m.size <= 0)
            continue;
        found.push_back(m);
        if (r.alo < m.i && r.blo < m.j)
            stack.push_back({r.alo, m.i, r.blo, m.j});
        if (m.i + m.size < r.ahi && m.j + m.size < r.bhi)
            stack.push_back({m.i + m.size, r.ahi, m.j + m.size, r.bhi});
    }
    std::sort(found.begin(), found.end(),
              [](const Block& x, const Block& y) { return std::tie(x.i, x.j, x.size) < std::tie(y.i, y.j, y.size); });

    QList<Block> blocks;
    Block current{0, 0, 0};
    for (const Block& next : found) {
        if (current.i + current.size == next.i && current.j + current.size == next.j) {
            current.size += next.size;
        } else {
            if (current.size > 0)
                blocks.append(current);
            current = next;
        }
    }
    if (current.size > 0)
        blocks.append(current);
    blocks.append({qsizetype(a_.size()), qsizetype(b_.size()), 0});
    return blocks;
}

QList<SequenceMatcher::Opcode> SequenceMatcher::opcodes(const QList<Block>& blocks)
{
    QList<Opcode> ops;
    qsizetype i = 0, j = 0;
    for (const Block& block : blocks) {
        QString tag;
        if (i < block.i && j < block.j)
            tag = QStringLiteral("replace");
        else if (i < block.i)
            tag = QStringLiteral("delete");
        else if (j < block.j)
            tag = QStringLiteral("insert");
        if (!tag.isEmpty())
            ops.append({tag, i, block.i, j, block.j});
        i = block.i + block.size;
        j = block.j + block.size;
        if (block.size > 0)
            ops.append({QStringLiteral("equal"), block.i, i, block.j, j});
    }
    return ops;
}

double SequenceMatcher::ratio(qsizetype matches, qsizetype length)
{
    return length < 1 ? 1.0 : 2.0 * double(matches) / double(length);
}

} // namespace quorvel
