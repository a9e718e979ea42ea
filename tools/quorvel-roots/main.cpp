// Writes the list of attested roots that the word analysis prefers among the
// roots its rules can give:
//
//   quorvel-roots <lexicon book JSON> <book JSON or Quran text>... > src/scholar/MorphRoots.inc
//
// The book is the root-ordered dictionary of the sample library (its file in
// samples/books, in the corpus page layout). Each entry of it opens a line
// with its root spelt out letter by letter ("ك ت ب …"), and each
// cross-reference line sends a word to its root ("اتصف في و ص ف"); both
// kinds of root are collected. The roots are written as the analysis writes
// them: every hamza as ا and ى as ي. The dictionary files the roots ending
// in و and in ي together (under دني: "وأصله دنو"), and writes some with a bare
// ا, so a three-letter root ending in any weak letter is listed once with و
// and once with ي.
//
// Each root carries how often the other texts named use it: words that are
// its three or four letters and nothing else, or those after one of the
// leading forms وال, فال, بال, كال, ال, و, ف, ب, and its present tense after
// ي, and a doubled root's two letters after the article (الحق); a word the
// dictionary files under another root by name (اسم, الدم) counts for none
// ("root:count:bare:present", bare the uses without an article form and
// present those of the present tense; no count when none). Where the rules leave two listed roots (صفة: وصف or صفف), the
// commoner wins.
//
// After the roots stand the words the cross-references file under a root
// ("word=root": ماء=موه), which no rule of the letters can tell. Last, what
// the texts show of a first و or ف: "word+" where it is the word's own (the
// texts write the word after another proclitic or the article, ووكيع, and
// its rest alone hardly ever), "word-" where a listed root's three letters
// are the conjunction before a word of two (وجل: the texts write جل alone
// as often, and never a proclitic before وجل); and "word#" where a فال of
// three letters stands after the article at least once for ten times
// alone, a noun's (الحال) more than a hollow verb's past. A root
// the dictionary spells with a last ا is the و one (سما, علا, بدا), as a
// past tense writes it; with ى, the ي one.
#include "core/Json.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>
#include <map>
#include <optional>
#include <set>

using namespace quorvel;

namespace {

// Roots written per line of the output, to keep its lines short.
constexpr int rootsPerLine = 10;
// The fewest uses of a word whose first و or ف the texts are asked about,
// and of a root's letters read as the conjunction before a word of two.
constexpr long minFormUses = 20;
constexpr long minJoinedUses = 50;
// The fewest uses of a فال whose uses after the article the texts are asked.
constexpr long minArticleUses = 10;
// The largest book file read.
constexpr qint64 maxBookBytes = qint64(64) << 20;

int fail(const QString& message)
{
    std::fprintf(stderr, "quorvel-roots: %s\n", message.toUtf8().constData());
    return 1;
}

QString written(QString root)
{
    for (QChar& c : root) {
        if (c == u'أ' || c == u'إ' || c == u'آ' || c == u'ؤ' || c == u'ئ' || c == u'ء')
            c = u'ا';
        else if (c == u'ى')
            c = u'ي';
    }
    return root;
}

void collect(const QString& spelt, std::set<QString>& roots)
{
    QString root = spelt;
    root.remove(u' ');
    // ى is written only last in a word and ends no root of four: after
    // three letters it opens the entry's first word (أ و س ى لآس: الآس).
    if (root.size() == 4 && root.back() == u'ى')
        root.chop(1);
    if (root.size() == 3 && (root.back() == u'ا' || root.back() == u'و' || root.back() == u'ي' || root.back() == u'ى')) {
        roots.insert(written(root.left(2)) + u'و');
        roots.insert(written(root.left(2)) + u'ي');
    } else {
        roots.insert(written(root));
    }
}

// The root a cross-reference names, as the analysis writes it.
QString filedRoot(const QString& spelt)
{
    QString root = spelt;
    root.remove(u' ');
    if (root.size() == 3 && root.back() == u'ا')
        root.back() = u'و';
    return written(root);
}

// The letters of a word of the texts as the roots are written: marks and
// tatweel dropped, every hamza ا, ى as ي.
QString bare(const QString& word)
{
    QString out;
    for (QChar c : word) {
        const char16_t u = c.unicode();
        if ((u >= 0x064B && u <= 0x0652) || u == 0x0640 || u == 0x0670)
            continue;
        out += u == 0x0671 ? QChar(u'ا') : c;
    }
    return written(out);
}

// Whether the dictionary files `word` by name under a root, and not under
// `root`.
bool filedElsewhere(const std::set<std::pair<QString, QString>>& filed, const QString& word, const QString& root)
{
    const auto first = filed.lower_bound({word, QString()});
    return first != filed.end() && first->first == word && !filed.contains({word, root});
}

// Adds the uses of listed roots in `text` to `counts`, to `bareCounts`
// those of their letters alone or after و, ف or ب (such a word may be
// another root's with a suffix, قلت: قال, so a reading of that very word
// does not count them), and to `presentCounts` those of the present tense.
void countUses(const QString& text, const std::set<QString>& roots, const std::set<std::pair<QString, QString>>& filed,
               std::map<QString, long>& counts,
               std::map<QString, long>& bareCounts, std::map<QString, long>& presentCounts,
               std::map<QString, long>& forms)
{
    static const QRegularExpression word(QStringLiteral("[\\x{0621}-\\x{0652}\\x{0670}\\x{0671}]+"));
    static const QStringList leading{QStringLiteral("وال"), QStringLiteral("فال"), QStringLiteral("بال"),
                                     QStringLiteral("كال"), QStringLiteral("ال"),  QStringLiteral("و"),
                                     QStringLiteral("ف"),   QStringLiteral("ب"),   QString()};
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const QString w = bare(it.next().captured());
        ++forms[w];
        for (const QString& front : leading) {
            if (!w.startsWith(front))
                continue;
            const QString rest = w.mid(front.size());
            // A word the dictionary files under another root by name (اسم
            // under س م و) is no use of the root its letters spell (أسم).
            if ((rest.size() == 3 || rest.size() == 4) && roots.contains(rest) && !filedElsewhere(filed, rest, rest)) {
                ++counts[rest];
                if (!front.endsWith(QStringLiteral("ال")))
                    ++bareCounts[rest];
                break;
            }
            // A doubled root writes its last two letters once (الحق, الصف):
            // after the article, where no particle stands, two letters are
            // its uses too, unless the dictionary files that word under
            // another root (الدم: دمو).
            if (const QString doubled = rest + rest.back(); rest.size() == 2 && front.endsWith(QStringLiteral("ال"))
                                                            && roots.contains(doubled) && !filedElsewhere(filed, rest, doubled)) {
                ++counts[doubled];
                break;
            }
        }
        // The present of a verb shows its root's letters, the hollow one's
        // weak letter too (يقول, يسير), where the past hides it (قال, سار);
        // but a last ي ends the present of every augmented form (يعطي).
        const QString verb = w.startsWith(u'و') || w.startsWith(u'ف') ? w.mid(1) : w;
        if (const QString root = verb.mid(1); verb.size() == 4 && verb[0] == u'ي' && verb.back() != u'ي'
                                                && roots.contains(root)) {
            ++counts[root];
            ++presentCounts[root];
        }
    }
}

// What the texts show of their commoner words, as the header says: a first
// و or ف their own ("word+") or the conjunction ("word-"), and a فال the
// article's ("word#").
QStringList formEvidence(const std::map<QString, long>& forms, const std::set<QString>& roots)
{
    static const QStringList articles{QStringLiteral("ال"),  QStringLiteral("وال"), QStringLiteral("بال"),
                                      QStringLiteral("فال"), QStringLiteral("كال"), QStringLiteral("لل")};
    static const QStringList letters{QStringLiteral("و"), QStringLiteral("ف"), QStringLiteral("ب"),
                                     QStringLiteral("ل"), QStringLiteral("ك")};
    auto uses = [&forms](const QString& w) {
        const auto it = forms.find(w);
        return it == forms.end() ? 0L : it->second;
    };
    auto after = [&uses](const QStringList& fronts, const QString& w) {
        long n = 0;
        for (const QString& front : fronts)
            n += uses(front + w);
        return n;
    };
    QStringList out;
    for (const auto& [w, n] : forms) {
        if (w.size() == 3 && w[1] == u'ا' && n >= minArticleUses) {
            if (const long article = after(articles, w); article >= 3 && 10 * article >= n)
                out << w + u'#';
        }
        if (w.size() < 3 || (w[0] != u'و' && w[0] != u'ف') || n < minFormUses)
            continue;
        const long proclitic = after(articles, w) + after(letters, w);
        const long rest = uses(w.mid(1));
        if (proclitic >= 3 && (proclitic > rest || 4 * proclitic >= n))
            out << w + u'+';
        else if (w.size() == 3 && roots.contains(w) && n >= minJoinedUses && 2 * rest >= n && 20 * proclitic < n)
            out << w + u'-';
    }
    return out;
}

// The text of a book file in the corpus layout, or of a plain text file.
std::optional<QString> textOf(const QString& path)
{
    if (path.endsWith(QStringLiteral(".json"))) {
        const std::optional<Json::Value> book = Json::parseFile(path, maxBookBytes);
        if (!book || !book->is_object() || !book->contains("pages"))
            return std::nullopt;
        QString text;
        for (const auto& page : (*book)["pages"])
            text += Json::qstr(page.value("content", std::string())) + u'\n';
        return text;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.readAll());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2)
        return fail(QStringLiteral("usage: quorvel-roots <lexicon book JSON> <book JSON or Quran text>..."));
    const std::optional<QString> lexicon = textOf(args.at(1));
    if (!lexicon || !args.at(1).endsWith(QStringLiteral(".json")))
        return fail(QStringLiteral("not a readable book in the corpus layout: ") + args.at(1));

    // A root spelt out: two to five letters, each followed by a space.
    const QString letter = QStringLiteral("[\\x{0621}-\\x{064A}]");
    const QString spelt = QStringLiteral("((?:%1 ){2,4}%1)").arg(letter);
    const QRegularExpression entry(QStringLiteral("^") + spelt + QStringLiteral("(?: |$)"));
    const QRegularExpression reference(QStringLiteral("^(%1+) في ").arg(letter) + spelt + QStringLiteral("$"));

    std::set<QString> roots;
    std::set<std::pair<QString, QString>> filings;
    for (const QString& raw : lexicon->split(u'\n')) {
        const QString line = raw.trimmed();
        if (const auto m = reference.match(line); m.hasMatch()) {
            collect(m.captured(2), roots);
            filings.emplace(m.captured(1), filedRoot(m.captured(2)));
        }
        else if (const auto e = entry.match(line); e.hasMatch())
            collect(e.captured(1), roots);
    }
    if (roots.empty())
        return fail(QStringLiteral("no root found in ") + args.at(1));

    std::set<std::pair<QString, QString>> filedWords;
    for (const auto& [word, root] : filings) {
        const QString letters = bare(word);
        filedWords.emplace(letters, root);
        // A noun of the alef of liaison (اسم) is written without it after
        // ب (بسم): those letters are that noun's too.
        if (letters.size() == 3 && letters.front() == u'ا' && root.front() != u'ا')
            filedWords.emplace(u'ب' + letters.mid(1), root);
    }
    std::map<QString, long> counts;
    std::map<QString, long> bareCounts;
    std::map<QString, long> presentCounts;
    std::map<QString, long> forms;
    for (qsizetype i = 2; i < args.size(); ++i) {
        const std::optional<QString> text = textOf(args.at(i));
        if (!text)
            return fail(QStringLiteral("cannot read ") + args.at(i));
        countUses(*text, roots, filedWords, counts, bareCounts, presentCounts, forms);
    }

    QString out = QStringLiteral(
        "// The roots of the dictionary مختار الصحاح in the sample library (samples/books/010.json),\n"
        "// each with its bare uses in the sample books and the Quran text (samples/), then the words\n"
        "// its cross-references file under a root (word=root), then the words whose first و or ف\n"
        "// the texts show to be their own (word+) or the conjunction (word-), and the فال the texts\n"
        "// write after the article (word#), written by tools/quorvel-roots;\n"
        "// licence and source as for those texts (see ATTRIBUTION.md).\n"
        "// Do not edit: run the tool again.\n"
        "R\"(");
    int onLine = 0;
    for (const QString& root : roots) {
        out += onLine == 0 ? QStringLiteral("\n") : QStringLiteral(" ");
        out += root;
        if (const auto it = counts.find(root); it != counts.end()) {
            out += u':' + QString::number(it->second);
            const auto b = bareCounts.find(root);
            const auto p = presentCounts.find(root);
            if (b != bareCounts.end() || p != presentCounts.end())
                out += u':' + QString::number(b != bareCounts.end() ? b->second : 0);
            if (p != presentCounts.end())
                out += u':' + QString::number(p->second);
        }
        onLine = (onLine + 1) % rootsPerLine;
    }
    onLine = 0;
    for (const auto& [word, root] : filings) {
        out += onLine == 0 ? QStringLiteral("\n") : QStringLiteral(" ");
        out += word + u'=' + root;
        onLine = (onLine + 1) % rootsPerLine;
    }
    onLine = 0;
    for (const QString& word : formEvidence(forms, roots)) {
        out += onLine == 0 ? QStringLiteral("\n") : QStringLiteral(" ");
        out += word;
        onLine = (onLine + 1) % rootsPerLine;
    }
    out += QStringLiteral("\n)\"\n");
    std::fputs(out.toUtf8().constData(), stdout);
    return 0;
}
