// A page's rows in the index as its text alone gives them, and the rules
// that read a word as the index holds it: pure, for any thread.

#include "search/PageIndex.h"

#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "core/Library.h"
#include "core/SQLiteDB.h"
#include "search/PageIndexStore.h"

#include <QSet>

#include <algorithm>

namespace quorvel::PageIndex {

namespace {

bool carriesMarks(const Arabic::RichWord& word)
{
    return std::any_of(word.letters.begin(), word.letters.end(),
                       [](const Arabic::RichLetter& l) { return l.m1 != 0 || l.m2 != 0; });
}

// The marked words of a page, read only when its text holds a mark at all.
QList<Pair> markedWords(const QString& content)
{
    QList<Pair> out;
    if (std::none_of(content.begin(), content.end(), [](QChar c) { return Arabic::isMark(c.unicode()); }))
        return out;
    QSet<Pair> seen;
    for (const Arabic::RichWord& word : Arabic::richWords(content)) {
        if (!carriesMarks(word))
            continue;
        const Pair pair{word.word, markedForm(word.letters)};
        if (!seen.contains(pair)) {
            seen.insert(pair);
            out << pair;
        }
    }
    return out;
}

QStringList lastWords(const QString& text, int n)
{
    QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    return words.mid(std::max<qsizetype>(0, words.size() - n));
}

} // namespace

PageRow pageRow(const QString& content)
{
    return {columnsOf(content), markedWords(Library::searchedContent(content))};
}

QString formsOf(const QString& text)
{
    const Arabic::Index idx = Arabic::index(text);
    QString out = idx.norm;
    for (qsizetype k = 0; k < out.size(); ++k)
        if (out[k].unicode() == kAlef) {
            const char16_t written = Arabic::writtenAt(idx.origin, idx.map[k]);
            if (Arabic::isHamzaAlef(written))
                out[k] = QChar(written);
        }
    while (out.endsWith(u' '))
        out.chop(1);
    return out;
}

Columns columnsOf(const QString& content)
{
    Columns row;
    const auto [main, notes] = Library::splitFootnotes(content);
    row.matn = formsOf(Arabic::searchedText(main));
    if (notes)
        row.hawashi = formsOf(Arabic::searchedText(*notes));
    if (!row.matn.isEmpty() && !row.hawashi.isEmpty())
        row.seam = (lastWords(row.matn, seamWords) + row.hawashi.split(u' ', Qt::SkipEmptyParts).mid(0, seamWords))
                       .join(u' ');
    return row;
}

namespace {

// A letter of a form, with its written alef form.
Arabic::RichLetter letterOf(char16_t u)
{
    if (Arabic::isHamzaAlef(u) || u == kAlef)
        return {kAlef, u, 0, 0};
    return {u, 0, 0, 0};
}

} // namespace

QList<Arabic::RichLetter> letters(const QString& form)
{
    QList<Arabic::RichLetter> out;
    out.reserve(form.size());
    for (QChar c : form)
        out.append(letterOf(c.unicode()));
    return out;
}

QString markedForm(const QList<Arabic::RichLetter>& letters)
{
    QString out;
    out.reserve(letters.size() * 2);
    for (const Arabic::RichLetter& l : letters) {
        out.append(QChar(l.alif != 0 ? l.alif : l.norm));
        out.append(Arabic::marksOf(l));
    }
    return out;
}

QList<Arabic::RichLetter> markedLetters(const QString& form)
{
    QList<Arabic::RichLetter> out;
    out.reserve(form.size());
    for (QChar c : form) {
        const char16_t u = c.unicode();
        if (!Arabic::isMark(u))
            out.append(letterOf(u));
        else if (!out.isEmpty())
            Arabic::addMark(out.last(), u);
    }
    return out;
}

bool foreign(QStringView word)
{
    return std::any_of(word.begin(), word.end(), [](QChar c) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
        return !((u >= 0x0600 && u <= 0x06FF) || (u >= 0x0750 && u <= 0x077F) || (u >= 0x08A0 && u <= 0x08FF));
    });
}

QString queryTerm(const QString& word)
{
    if (!foreign(word))
        return word;
    QString out;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= word.size(); ++i) {
        if (i < word.size() && word[i] != u'*' && word[i] != u'?')
            continue;
        const QString piece = word.mid(start, i - start);
        const QStringList terms = foreign(piece) ? SQLiteDB::ftsTerms(piece) : QStringList{piece};
        out += terms.size() == 1 ? terms.first() : piece;
        if (i < word.size())
            out += word[i];
        start = i + 1;
    }
    return out;
}

bool rowAgrees(const QString& term, const QString& form)
{
    QString bare = form;
    bare.removeIf([](QChar c) { return Arabic::isMark(c.unicode()); });
    // Only a word of Arabic letters alone is surely its own term's form.
    const bool letters = std::all_of(bare.begin(), bare.end(), [](QChar c) {
        return c.unicode() >= 0x0621 && c.unicode() <= 0x064A;
    });
    return !letters || bare.isEmpty() || folded(bare) == term;
}

QString reversedKey(const QString& term)
{
    QString key = Arabic::stripTrailingDigits(term).value_or(term);
    std::reverse(key.begin(), key.end());
    return key;
}

} // namespace quorvel::PageIndex
