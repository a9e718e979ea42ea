#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace quorvel::test {

// Real text from tests/data for tests whose behaviour depends on real Arabic.

// The stored page texts of one book file ("books/001.json"), in file order.
QStringList bookPages(const QString& relative);

struct QuranVerse {
    int sura = 0;
    int ayah = 0;
    QString text;
};
// Every verse of the Uthmani Quran text, in file order.
const QList<QuranVerse>& quranVerses();
// One verse's text; empty when the file lacks it.
QString quranVerse(int sura, int ayah);

// Every text of the corpus: the Quran's verses, then each book's pages.
const QStringList& corpusTexts();

} // namespace quorvel::test
