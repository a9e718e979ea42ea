#include "core/Characters.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <memory>

namespace quorvel::Characters {

namespace {

// A character-boundary iterator for this thread; ICU iterators are not
// shareable between threads and expensive to create.
icu::BreakIterator* characterIterator()
{
    thread_local const std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();
    return iterator.get();
}

// The thread's iterator set on `text` for the length of one call; it keeps a
// pointer to its text, so it is left on text that outlives it.
class Walk {
public:
    explicit Walk(QStringView text)
        : it_(characterIterator())
        , text_(false, reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()))
    {
        if (it_)
            it_->setText(text_);
    }
    ~Walk()
    {
        static const icu::UnicodeString nothing;
        if (it_)
            it_->setText(nothing);
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    icu::BreakIterator* operator->() const { return it_; }
    explicit operator bool() const { return it_ != nullptr; }

private:
    icu::BreakIterator* it_;
    const icu::UnicodeString text_;
};

} // namespace

void forEach(QStringView text, const std::function<bool(qsizetype, qsizetype)>& visit)
{
    const Walk walk(text);
    if (!walk) {
        for (qsizetype i = 0; i < text.size();) {
            const qsizetype step =
                (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
            if (!visit(i, i + step))
                return;
            i += step;
        }
        return;
    }
    int32_t start = walk->first();
    for (int32_t end = walk->next(); end != icu::BreakIterator::DONE; end = walk->next()) {
        if (!visit(qsizetype(start), qsizetype(end)))
            return;
        start = end;
    }
}

qsizetype count(QStringView text, qsizetype cap)
{
    qsizetype n = 0;
    forEach(text, [&](qsizetype, qsizetype) { return ++n <= cap; });
    return n;
}

qsizetype endOfFirst(QStringView text, qsizetype n)
{
    qsizetype last = 0;
    if (n <= 0)
        return last;
    qsizetype seen = 0;
    forEach(text, [&](qsizetype, qsizetype end) {
        last = end;
        return ++seen < n;
    });
    return last;
}

bool isBoundary(QStringView text, qsizetype at)
{
    if (at <= 0 || at >= text.size())
        return true;
    const Walk walk(text);
    if (!walk)
        return !(text[at - 1].isHighSurrogate() && text[at].isLowSurrogate());
    return walk->isBoundary(int32_t(at));
}

} // namespace quorvel::Characters
