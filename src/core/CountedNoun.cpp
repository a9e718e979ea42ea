#include "core/CountedNoun.h"

#include "core/Arabic.h"

#include <QStringList>

#include <cmath>

#include <utility>

namespace quorvel {

namespace {

// A negative count agrees as its size does.
long long lastTwoDigits(long long n)
{
    const long long rest = n % 100;
    return rest < 0 ? -rest : rest;
}

} // namespace

CountedNoun::CountedNoun(QString singular, QString dual, QString plural, QString accusative)
    : singular_(std::move(singular)), dual_(std::move(dual)), plural_(std::move(plural)), accusative_(std::move(accusative))
{
}

QString CountedNoun::form(long long n, Case grammaticalCase) const
{
    if (n == 1 || n == -1)
        return grammaticalCase == Case::accusative ? accusative_ : singular_;
    if (n == 2 || n == -2) {
        if (grammaticalCase == Case::nominative)
            return dual_;
        // The dual adjective follows its noun: "كتابين محددين".
        QStringList words = dual_.split(u' ');
        for (QString& w : words) {
            if (w.endsWith(QStringLiteral("ان")))
                w = w.chopped(2) + QStringLiteral("ين");
        }
        return words.join(u' ');
    }
    const long long rest = lastTwoDigits(n);
    if (rest >= 3 && rest <= 10)
        return plural_;
    if (rest >= 11)
        return accusative_;
    return singular_;
}

QString CountedNoun::count(long long n, Case grammaticalCase) const
{
    return count(n, grammaticalCase, Arabic::num(n));
}

QString CountedNoun::count(long long n, Case grammaticalCase, const QString& written) const
{
    if (n == 1) {
        // واحد agrees with the noun in gender and, for the masculine, shows
        // the accusative as the noun does (with its tanwin when it has one).
        QString one;
        if (singular_.endsWith(u'ة'))
            one = QStringLiteral("واحدة");
        else if (grammaticalCase == Case::accusative)
            one = accusative_.endsWith(u'\u064B') ? QStringLiteral("واحداً") : QStringLiteral("واحدا");
        else
            one = QStringLiteral("واحد");
        return form(n, grammaticalCase) + u' ' + one;
    }
    if (n == 2)
        return form(n, grammaticalCase);
    return written + u' ' + form(n, grammaticalCase);
}

QString CountedNoun::measure(double amount, Case grammaticalCase, const QString& written) const
{
    // Whole amounts beyond what a long long holds are read as fractions:
    // they take the singular too.
    constexpr double wholeLimit = 9.0e15;
    if (std::trunc(amount) == amount && std::fabs(amount) < wholeLimit)
        return count(static_cast<long long>(amount), grammaticalCase, written);
    return written + u' ' + singular_;
}

const CountedNoun& CountedNoun::books()
{
    static const CountedNoun noun(QStringLiteral("كتاب"), QStringLiteral("كتابان"), QStringLiteral("كتب"),
                                  QStringLiteral("كتابا"));
    return noun;
}

const CountedNoun& CountedNoun::pages()
{
    static const CountedNoun noun(QStringLiteral("صفحة"), QStringLiteral("صفحتان"), QStringLiteral("صفحات"),
                                  QStringLiteral("صفحة"));
    return noun;
}

const CountedNoun& CountedNoun::items()
{
    static const CountedNoun noun(QStringLiteral("عنصر"), QStringLiteral("عنصران"), QStringLiteral("عناصر"),
                                  QStringLiteral("عنصرا"));
    return noun;
}

} // namespace quorvel
