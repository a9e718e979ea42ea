#include "support/CorpusText.h"

#include "core/Json.h"
#include "support/TestEnvironment.h"

#include <QFile>

namespace quorvel::test {

QStringList bookPages(const QString& relative)
{
    QStringList pages;
    const auto doc = Json::parseFile(dataPath(relative));
    if (!doc || !doc->is_object() || !doc->contains("pages"))
        return pages;
    for (const auto& page : (*doc)["pages"])
        if (const auto content = Json::strictString(page, "content"))
            pages.append(*content);
    return pages;
}

const QList<QuranVerse>& quranVerses()
{
    static const QList<QuranVerse> verses = [] {
        QList<QuranVerse> out;
        QFile file(dataPath("quran/quran-uthmani.txt"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return out;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(u'#'))
                continue;
            const QStringList parts = line.split(u'|');
            if (parts.size() != 3)
                continue;
            out.append({parts[0].toInt(), parts[1].toInt(), parts[2]});
        }
        return out;
    }();
    return verses;
}

QString quranVerse(int sura, int ayah)
{
    for (const QuranVerse& v : quranVerses())
        if (v.sura == sura && v.ayah == ayah)
            return v.text;
    return {};
}

const QStringList& corpusTexts()
{
    static const QStringList texts = [] {
        QStringList out;
        for (const QuranVerse& v : quranVerses())
            out.append(v.text);
        for (const char* book : {"books/001.json", "books/002.json", "books/003.json"})
            out += bookPages(QString::fromLatin1(book));
        return out;
    }();
    return texts;
}

} // namespace quorvel::test
