#pragma once

// A count written with its noun the way Arabic agrees them: one and two by
// the noun alone ("كتاب واحد", "كتابان"), then by the last two digits of the
// number: 3 to 10 take the plural ("٣ كتب", "١٠٣ كتب"), 11 to 99 the
// accusative singular ("١١ كتابا"), and every other number the singular
// ("٠ كتاب", "١٠٠ كتاب", "١٠٢ كتاب"). Numbers follow the digits preference.

#include <QString>

namespace quorvel {

class CountedNoun {
public:
    // The case the sentence gives the counted phrase; only one and two show
    // it ("كتابا واحدا", "كتابين").
    enum class Case { nominative, accusative, genitive };

    // `dual` in the nominative ("كتابان", "كتابان محددان"); the accusative
    // and genitive dual end each of its words in "ين" for "ان". A singular
    // ending in ة is feminine. Forms may carry an adjective.
    CountedNoun(QString singular, QString dual, QString plural, QString accusative);

    // The noun as `n` takes it, without the number.
    QString form(long long n, Case grammaticalCase = Case::nominative) const;
    // The phrase: the noun alone with "واحد" for one and in the dual for
    // two; the number in the user's digits, a space and `form` otherwise.
    QString count(long long n, Case grammaticalCase = Case::nominative) const;
    // The same with the number as the caller writes it (Latin digits for an
    // outside client, say).
    QString count(long long n, Case grammaticalCase, const QString& written) const;

    // A measured amount, which may have a fraction ("١٫٥ ثانية"): a whole
    // amount is counted as `count` counts it, any other takes the singular
    // after the number as the caller writes it.
    QString measure(double amount, Case grammaticalCase, const QString& written) const;

    // The nouns several features count.
    static const CountedNoun& books();
    static const CountedNoun& pages();
    // The entries of a list or a file ("عنصر").
    static const CountedNoun& items();

    // The mark between two parts of a line where a number stands beside it.
    // A middle dot there reads as the Arabic-Indic zero ("· ٢٦ نتيجة" as
    // "٢٦٠ نتيجة"), so an en dash takes its place; " · " stays between parts
    // with no digit beside it.
    static constexpr const char* separator = " – ";

private:
    QString singular_;
    QString dual_;
    QString plural_;
    QString accusative_;
};

} // namespace quorvel
