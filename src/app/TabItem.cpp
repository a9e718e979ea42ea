#include "app/TabItem.h"

namespace quorvel {

QString TabItem::iconFor(Kind kind)
{
    switch (kind) {
    case Kind::Book: return QStringLiteral("book.closed.fill");
    case Kind::Search: return QStringLiteral("magnifyingglass");
    case Kind::Ai: return QStringLiteral("sparkles");
    case Kind::Quran: return QStringLiteral("book.fill");
    }
    return {};
}

} // namespace quorvel
