#include "core/Author.h"

#include "core/Arabic.h"

namespace quorvel {

namespace {
const QString placeholderNames[] = {QString(), QStringLiteral(u"\u2014"), QStringLiteral(u"-")};
const QString deathOpen = QStringLiteral(u" (ت ");
const QString beforeHijra = QStringLiteral(u" ق.هـ");
} // namespace

QString Author::display() const
{
    for (const QString& placeholder : placeholderNames) {
        if (name == placeholder)
            return QString();
    }
    if (!death || *death == 0 || *death == 1)
        return name;
    if (*death >= 2)
        return name + deathOpen + Arabic::num(*death) + u')';
    return name + deathOpen + Arabic::num(-*death) + beforeHijra + u')';
}

} // namespace quorvel
