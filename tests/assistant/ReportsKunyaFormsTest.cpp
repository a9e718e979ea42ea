// The answers to the short forms by which the sample's chains name men of its
// book of kunyas (data/people/kunya-forms.tsv, read by hand): his own entry
// there is quoted before any other man's entry, and the quotations are about
// him, on the forms the rules were tuned on and on those kept out alike.

#include "assistant/Reports.h"

#include "core/Library.h"
#include "support/ScopedEnv.h"
#include "ui/reader/ReaderTestSupport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>

using namespace quorvel;

namespace {

struct KunyaForm {
    QString form;
    QString man;
    QStringList entries; // his entry numbers in the book of kunyas; empty where it has none
    bool heldOut = false;
};

QList<KunyaForm> readForms()
{
    QFile file(QStringLiteral(QUORVEL_TEST_DATA "/people/kunya-forms.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<KunyaForm> out;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QStringList cols = line.split(u'\t');
        if (line.startsWith(u'#') || cols.size() < 4)
            continue;
        const QStringList entries =
            cols[3] == QStringLiteral("none") ? QStringList() : cols[3].split(u' ', Qt::SkipEmptyParts);
        out.append({cols[0], cols[2], entries, cols.value(5) == QStringLiteral("held")});
    }
    return out;
}

// The spelling a reader compares names in: no vowel marks, one alef, «ابن»
// read as «بن» and «أبي/أبا» as «أبو».
QString plain(QString s)
{
    static const QRegularExpression marks(QStringLiteral("[\u064B-\u0652\u0670\u0640]"));
    static const QRegularExpression alefs(QStringLiteral("[أإآٱ]"));
    static const QRegularExpression son(QStringLiteral("(^|\\s)ابن(?=\\s)"));
    static const QRegularExpression father(QStringLiteral("(^|(?<=\\s))(و?)اب[يا](?=\\s)"));
    s.remove(marks).replace(alefs, QStringLiteral("ا")).replace(u'ى', u'ي').replace(u'ة', u'ه');
    s.replace(son, QStringLiteral("\\1بن"));
    return s.replace(father, QStringLiteral("\\1\\2ابو"));
}

// Given names that before «بن X» make the words another son of X.
const QSet<QString>& givenNames()
{
    static const QSet<QString> names = [] {
        QSet<QString> out;
        for (const QString& w : plain(QStringLiteral(
                                    "محمد أحمد علي عمر عمرو عثمان يوسف يحيى إبراهيم إسماعيل إسحاق الحسن الحسين حسن حسين "
                                    "سلم مسلم سالم أنس زيد سعيد سعد عاصم حفص حماد حمزة بلال جعفر خالد موسى عيسى هشام "
                                    "هارون داود سليمان أيوب يزيد يونس عبيد الله الرحمن الملك العزيز طلحة الزبير مصعب "
                                    "معاذ معاوية وهب عروة عبد"))
                                    .split(u' ', Qt::SkipEmptyParts))
            out.insert(w);
        return out;
    }();
    return names;
}

// Whether the quotation names him by `name` as his own name: not as a
// father's («بن X»), nor, for «ابن X», as the son of another given name.
bool namesAlone(const QString& quotation, const QString& name)
{
    const QString text = u' ' + plain(quotation) + u' ';
    const QString n = plain(name);
    const QRegularExpression at(QStringLiteral("(?<=[\\s،,.:؛(«\"و])") + QRegularExpression::escape(n)
                                + QStringLiteral("(?=[\\s،,.:؛)»\"])"));
    for (auto it = at.globalMatch(text); it.hasNext();) {
        const QStringList before = text.left(it.next().capturedStart()).split(u' ', Qt::SkipEmptyParts);
        if (!before.isEmpty() && (before.last() == QStringLiteral("بن") || before.last() == QStringLiteral("بنت")))
            continue;
        if (n.startsWith(QStringLiteral("بن ")) && !before.isEmpty() && givenNames().contains(before.last()))
            continue;
        return true;
    }
    return false;
}

// The names a quotation may call the man by: his name and his father's, and his kunyas.
QStringList namesOf(const QString& man)
{
    const QStringList w = plain(man).split(u' ', Qt::SkipEmptyParts);
    QStringList out;
    const qsizetype son = w.indexOf(QStringLiteral("بن"));
    if (son > 0) {
        const bool twoWords = son >= 2
            && (w[son - 2] == QStringLiteral("عبد") || w[son - 2] == QStringLiteral("ابو") || w[son - 2] == QStringLiteral("ام"));
        out << w.mid(son - (twoWords ? 2 : 1), (twoWords ? 2 : 1) + 2).join(u' ');
    }
    for (qsizetype k = 0; k + 1 < w.size(); ++k)
        if (w[k] == QStringLiteral("ابو") || w[k] == QStringLiteral("ام"))
            out << w.mid(k, 2).join(u' ');
    out.removeIf([](const QString& n) { return n.count(u' ') < 1; });
    return out;
}

struct Share {
    int first = 0; // forms answered with his own entry before any other man's
    int entered = 0;
    int about = 0; // quotations about him
    int quoted = 0;
};

} // namespace

// Each form asked alone: where the book of kunyas has his entry, it is quoted
// with no other man's numbered entry before it; every quotation is about him
// (his entry there, or a sentence that names him by the form or his own name,
// never another man's entry there). The floors are the shares reached, apart for
// the tuned forms and the held-out ones.
TEST(ReportsSample, aKunyaBooksShortFormsOpenWithTheMansOwnEntry)
{
    test::SampleLib sample;
    REQUIRE_SAMPLE(sample);
    test::ScopedEnv noSmart("QUORVEL_NO_SMART", QStringLiteral("1"));
    const QList<KunyaForm> forms = readForms();
    ASSERT_EQ(forms.size(), 60);
    std::int64_t kunyaBook = 0;
    for (const Book& b : sample.lib->books())
        if (b.title.contains(QStringLiteral("الكنى")))
            kunyaBook = b.id;
    ASSERT_NE(kunyaBook, 0);
    const QRegularExpression quotation(QStringLiteral("^- .* في «[^»]*»: «(.*)» \\[\\d+\\]$"),
                                       QRegularExpression::MultilineOption);
    const QRegularExpression numbered(QStringLiteral("^\\s*([0-9]+)\\s*-?\\s"));
    Share shares[2];
    QStringList missed[2];
    for (const KunyaForm& f : forms) {
        const Reports::Built built = Reports::biography(*sample.lib, f.form, std::nullopt);
        QStringList quoted;
        for (auto it = quotation.globalMatch(built.text); it.hasNext();)
            quoted << it.next().captured(1);
        ASSERT_EQ(quoted.size(), built.passages.size()) << f.form.toStdString();
        const QStringList names = namesOf(f.man);
        // His entry in the book of kunyas, or elsewhere a sentence that names him.
        const auto his = [&](qsizetype i) {
            const QRegularExpressionMatch number = numbered.match(quoted[i]);
            if (number.hasMatch() && built.passages[i].bookId == kunyaBook)
                return f.entries.contains(number.captured(1));
            return namesAlone(quoted[i], f.form)
                || std::any_of(names.begin(), names.end(), [&](const QString& n) { return namesAlone(quoted[i], n); });
        };
        Share& s = shares[f.heldOut ? 1 : 0];
        bool first = true;
        if (!f.entries.isEmpty()) {
            ++s.entered;
            qsizetype at = 0;
            while (at < quoted.size()
                   && !(built.passages[at].bookId == kunyaBook && numbered.match(quoted[at]).hasMatch()
                        && f.entries.contains(numbered.match(quoted[at]).captured(1))))
                ++at;
            first = at < quoted.size();
            for (qsizetype i = 0; first && i < at; ++i)
                first = his(i);
            s.first += first ? 1 : 0;
        }
        for (qsizetype i = 0; i < quoted.size(); ++i) {
            const bool about = his(i);
            s.about += about ? 1 : 0;
            if (!about)
                missed[f.heldOut ? 1 : 0] << f.form + QStringLiteral(": ") + quoted[i].left(80);
        }
        s.quoted += quoted.size();
        if (!first)
            missed[f.heldOut ? 1 : 0] << f.form + QStringLiteral(": not first");
    }
    // Floors: own entry first, and quotations about him, in thousandths.
    constexpr int kFirstTuned = 857;
    constexpr int kFirstHeld = 625;
    constexpr int kAboutTuned = 975;
    constexpr int kAboutHeld = 995;
    for (int part = 0; part < 2; ++part) {
        const Share& s = shares[part];
        const char* name = part == 0 ? "tuned" : "held out";
        std::printf("%s: own entry first %d of %d, quotations about him %d of %d\n", name, s.first, s.entered, s.about,
                    s.quoted);
        ASSERT_GT(s.entered, 0);
        ASSERT_GT(s.quoted, 0);
        EXPECT_GE(1000 * s.first, (part == 0 ? kFirstTuned : kFirstHeld) * s.entered) << name << '\n'
                                                                                        << missed[part].join(u'\n').toStdString();
        EXPECT_GE(1000 * s.about, (part == 0 ? kAboutTuned : kAboutHeld) * s.quoted) << name << '\n'
                                                                                      << missed[part].join(u'\n').toStdString();
    }
}
