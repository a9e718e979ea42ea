#include "ui/reader/Quran.h"

#include "core/Arabic.h"
#include "core/ArabicPlain.h"
#include "core/Characters.h"
#include "core/Library.h"
#include "core/Numbers.h"
#include "core/Theme.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace quorvel {

namespace {

constexpr char kQuranTitle[] = "القرآن الكريم";
constexpr char kMushafSource[] = "Quran.Mushaf";
constexpr char kTanzilSource[] = "Tanzil";
constexpr char kAnalysisSource[] = "QuranAnalysis";
constexpr char kUthmaniFile[] = "quran-uthmani.txt";
constexpr int kBasmalaWords = 4;

const QString& uthmaniBasmalaText()
{
    static const QString text = QStringLiteral(u"بِسْمِ ٱللَّهِ ٱلرَّحْمَٰنِ ٱلرَّحِيمِ");
    return text;
}

// A number as the verse lines write it: spaces around it, any digits.
std::optional<std::int64_t> number(const QString& s)
{
    return Numbers::parseInteger(Arabic::latinDigits(Characters::trimSpacesAndTabs(s).toString()));
}

// The text without its first four words, rejoined by single spaces.
QString dropBasmala(const QString& text)
{
    QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    words.remove(0, std::min<qsizetype>(kBasmalaWords, words.size()));
    return words.join(u' ');
}

bool isQuranBook(const Book& book)
{
    return book.title == QString::fromUtf8(kQuranTitle) ||
           book.source.value_or(QString()).contains(QLatin1String(kMushafSource));
}

int rank(const Book& book)
{
    const QString source = book.source.value_or(QString());
    if (source.contains(QLatin1String(kTanzilSource)))
        return 0;
    if (source.contains(QLatin1String(kAnalysisSource)))
        return 1;
    return 2;
}

} // namespace

QList<Ayah> QuranText::parse(Library& lib, std::int64_t book)
{
    QList<Ayah> ayat;
    int current = 0;
    QString pending;
    const QString basmalaPrefix = basmala() + u' ';

    auto emitVerse = [&](int s, int a, const QString& t, std::optional<int> page) {
        QString text = Characters::trimSpacesAndTabs(pending + t).toString();
        pending.clear();
        if (a == 1 && s != 1 && Arabic::normalize(text).startsWith(basmalaPrefix))
            text = dropBasmala(text);
        ayat.append({s, a, text, Arabic::normalize(text, true), Arabic::normalize(Arabic::plainSpelling(text), true), page});
    };

    for (const Page& stored : lib.bookPages(book)) {
        const std::optional<int> page = int(stored.num.value_or(stored.seq));
        for (const QString& raw : stored.content.split(u'\n', Qt::SkipEmptyParts)) {
            const QString line = Characters::trimSpacesAndTabs(raw).toString();
            if (line.isEmpty())
                continue;

            if (const std::optional<VerseLine> verse = verseLine(line)) {
                if (verse->sura >= 1 && verse->sura <= suraCount && verse->verse >= 1) {
                    emitVerse(int(verse->sura), int(verse->verse), line.mid(verse->textStart), page);
                    current = int(verse->sura);
                }
                continue;
            }

            // "(n) text" and "text (n)"
            std::optional<std::int64_t> n;
            QString text;
            bool shaped = false;
            if (line.startsWith(u'(') && line.contains(u')')) {
                const qsizetype close = line.indexOf(u')');
                if ((n = number(line.mid(1, close - 1)))) {
                    text = line.mid(close + 1);
                    shaped = true;
                }
            }
            if (!shaped && line.endsWith(u')') && line.contains(u'(')) {
                const qsizetype open = line.lastIndexOf(u'(');
                if ((n = number(line.mid(open + 1, line.size() - open - 2)))) {
                    text = line.left(open);
                    shaped = true;
                }
            }
            if (shaped) {
                if (current >= 1 && current <= suraCount && *n >= 1)
                    emitVerse(current, int(*n), text, page);
                continue;
            }

            // A sura heading "<n> <title>", or continuation text.
            const qsizetype gap = line.indexOf(u' ');
            const QString first = gap < 0 ? line : line.left(gap);
            const QString rest = gap < 0 ? QString() : Characters::trimSpacesAndTabs(line.mid(gap)).toString();
            const auto heading = number(first);
            if (heading && *heading >= 1 && *heading <= suraCount && (rest.isEmpty() || !number(rest))) {
                current = int(*heading);
                pending.clear();
            } else {
                pending += line + u' ';
            }
        }
    }
    return ayat;
}

bool QuranText::complete(const QList<Ayah>& ayat)
{
    QSet<int> finished;
    int current = 0;
    for (const Ayah& v : ayat) {
        if (v.sura == current)
            continue;
        if (finished.contains(v.sura))
            return false;
        if (current != 0)
            finished.insert(current);
        current = v.sura;
    }
    if (current != 0)
        finished.insert(current);
    return finished.size() == suraCount;
}

bool QuranText::buildSuraTables()
{
    if (!complete(ayat))
        return false;
    suraStart.fill(0);
    suraLength.fill(0);
    for (qsizetype i = ayat.size() - 1; i >= 0; --i) {
        const int s = ayat[i].sura;
        suraStart[s - 1] = int(i);
        ++suraLength[s - 1];
    }
    return true;
}

bool QuranText::mayBeInstalled(const Library& lib)
{
    const QList<Book> books = lib.books();
    return std::any_of(books.begin(), books.end(), isQuranBook);
}

std::shared_ptr<const QuranText> QuranText::load(Library& lib)
{
    struct Candidate {
        Book book;
        QList<Ayah> ayat;
    };
    QList<Candidate> usable;
    for (const Book& book : lib.books()) {
        if (!isQuranBook(book))
            continue;
        QList<Ayah> ayat = parse(lib, book.id);
        if (ayat.size() >= minimumAyat && complete(ayat))
            usable.append({book, std::move(ayat)});
    }
    if (usable.isEmpty())
        return nullptr;

    const Candidate* pages = nullptr;
    for (const Candidate& c : usable) {
        if (lib.seqRange(c.book.id).second > pagesBookMinSeq) {
            pages = &c;
            break;
        }
    }
    const Candidate* text = &usable.first();
    for (const Candidate& c : usable)
        if (rank(c.book) < rank(text->book))
            text = &c;

    auto q = std::make_shared<QuranText>();
    q->ayat = text->ayat;
    q->textBook = text->book.id;
    if (pages) {
        q->pagesBook = pages->book.id;
        QHash<int, int> pageOf;
        for (const Ayah& v : pages->ayat)
            if (v.page)
                pageOf.insert(key(v.sura, v.n), *v.page);
        for (Ayah& v : q->ayat) {
            const auto found = pageOf.constFind(key(v.sura, v.n));
            v.page = found == pageOf.constEnd() ? std::nullopt : std::optional<int>(*found);
        }
        for (const auto& [number, seq] : lib.pageNumbers(pages->book.id))
            q->pageSeq.insert(int(number), seq);
    }
    const bool built = q->buildSuraTables();
    Q_ASSERT(built);
    return built ? q : nullptr;
}

int QuranText::count(int s) const
{
    return suraLength[std::clamp(s, 1, suraCount) - 1];
}

int QuranText::index(int s, int a) const
{
    s = std::clamp(s, 1, suraCount);
    const int last = std::max(count(s), 1);
    const int i = suraStart[s - 1] + std::clamp(a, 1, last) - 1;
    return std::clamp(i, 0, std::max(int(ayat.size()) - 1, 0));
}

int QuranText::juzOf(int i) const
{
    if (ayat.isEmpty())
        return 1;
    const Ayah& v = ayat[std::clamp(i, 0, int(ayat.size()) - 1)];
    const auto& table = juz();
    for (int j = juzCount; j >= 1; --j) {
        const auto [s, a] = table[j - 1];
        if (s < v.sura || (s == v.sura && a <= v.n))
            return j;
    }
    return 1;
}

QString QuranText::cite(int i, std::optional<int> j) const
{
    if (ayat.isEmpty())
        return {};
    const int last = int(ayat.size()) - 1;
    const Ayah& v = ayat[std::clamp(i, 0, last)];
    QString numbers = Arabic::num(v.n);
    if (j && *j != i) {
        const Ayah& w = ayat[std::clamp(*j, 0, last)];
        if (w.sura == v.sura && w.n != v.n)
            numbers += u'-' + Arabic::num(w.n);
    }
    return u'[' + name(v.sura) + QStringLiteral(": ") + numbers + u']';
}

QList<int> QuranText::search(const QStringList& terms) const
{
    QList<int> found;
    for (int i = 0; i < ayat.size(); ++i) {
        const QString& norm = ayat[i].norm;
        if (std::all_of(terms.cbegin(), terms.cend(), [&](const QString& t) { return norm.contains(t); }))
            found.append(i);
    }
    return found;
}

QString QuranText::name(int s)
{
    return Library::suras().value(std::clamp(s, 1, suraCount) - 1);
}

QString QuranText::skel(const QString& text)
{
    QString folded = fold(text);
    folded.remove(QChar(0x0627));
    return folded;
}

QString QuranText::fold(const QString& text)
{
    QString stripped;
    stripped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x0610 && u <= 0x061A) || (u >= 0x064B && u <= 0x065F) || u == 0x0670 ||
            (u >= 0x06D6 && u <= 0x06ED))
            continue;
        stripped.append(c);
    }
    QString folded = Arabic::normalize(stripped, true);
    folded.replace(QChar(0x0671), QChar(0x0627));
    return folded;
}

const QString& QuranText::basmala()
{
    static const QString text = QStringLiteral(u"بسم الله الرحمن الرحيم");
    return text;
}

std::optional<QString> QuranText::uthmaniBasmala()
{
    if (uthmani().isEmpty())
        return std::nullopt;
    return uthmaniBasmalaText();
}

QString QuranText::uthmaniPath()
{
    const QString name = QString::fromLatin1(kUthmaniFile);
    QStringList places;
    if (const QString base = Theme::resourcesDir(); !base.isEmpty())
        places.append(base + u'/' + name);
    if (QCoreApplication::instance())
        places.append(QCoreApplication::applicationDirPath() + u'/' + name);
    for (const QString& path : places)
        if (QFileInfo(path).isFile())
            return path;
    return {};
}

QHash<int, QString> QuranText::readUthmani(const QString& path)
{
    QHash<int, QString> map;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return map;
    const QString basmalaSkeleton = skel(basmala()) + u' ';
    auto plainInteger = [](const QString& s) -> std::optional<int> {
        if (s.isEmpty() || s.size() > 6)
            return std::nullopt;
        for (const QChar c : s)
            if (c < u'0' || c > u'9')
                return std::nullopt;
        return s.toInt();
    };
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(u'#'))
            continue;
        const qsizetype first = line.indexOf(u'|');
        const qsizetype second = first < 0 ? -1 : line.indexOf(u'|', first + 1);
        if (second < 0)
            continue;
        const auto s = plainInteger(line.left(first));
        const auto a = plainInteger(line.mid(first + 1, second - first - 1));
        if (!s || !a)
            continue;
        QString text = line.mid(second + 1).trimmed();
        if (*a == 1 && *s != 1 && skel(text).startsWith(basmalaSkeleton))
            text = dropBasmala(text);
        map.insert(key(*s, *a), text);
    }
    return map;
}

const QHash<int, QString>& QuranText::uthmani()
{
    static const QHash<int, QString> map = readUthmani(uthmaniPath());
    return map;
}

const std::array<std::pair<int, int>, QuranText::juzCount>& QuranText::juz()
{
    static const std::array<std::pair<int, int>, juzCount> table{{
        {1, 1},   {2, 142}, {2, 253}, {3, 93},  {4, 24},  {4, 148}, {5, 82},  {6, 111}, {7, 88},  {8, 41},
        {9, 93},  {11, 6},  {12, 53}, {15, 1},  {17, 1},  {18, 75}, {21, 1},  {23, 1},  {25, 21}, {27, 56},
        {29, 46}, {33, 31}, {36, 28}, {39, 32}, {41, 47}, {46, 1},  {51, 31}, {58, 1},  {67, 1},  {78, 1},
    }};
    return table;
}

} // namespace quorvel
