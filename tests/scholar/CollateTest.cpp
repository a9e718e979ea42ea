// The block matcher, checked against difflib itself where python3 is at
// hand, and collation over the two transcriptions of Ibn Majah.

#include "scholar/Collate.h"
#include "scholar/SequenceMatcher.h"
#include "scholar/TextReuse.h"

#include "DerivedTables.h"
#include "core/Json.h"
#include "core/Py.h"
#include "core/SQLiteDB.h"
#include "support/CorpusText.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <sqlite3.h>

using namespace quorvel;

namespace {

using Block = SequenceMatcher::Block;
using Opcode = SequenceMatcher::Opcode;

QList<Block> blocks(const std::vector<std::int64_t>& a, const std::vector<std::int64_t>& b)
{
    return SequenceMatcher(a, b).matchingBlocks();
}

QStringList tags(const QList<CollateOp>& ops)
{
    QStringList out;
    for (const auto& op : ops)
        out << op.tag;
    return out;
}

} // namespace

TEST(SequenceMatcher, edgeCasesOfTheBlocksAndOperations)
{
    EXPECT_EQ(blocks({}, {}), (QList<Block>{Block{0, 0, 0}}));
    EXPECT_TRUE(SequenceMatcher::opcodes(blocks({}, {})).isEmpty());
    EXPECT_EQ(SequenceMatcher::opcodes(blocks({}, {4, 5, 6})), (QList<Opcode>{Opcode{"insert", 0, 0, 0, 3}}));
    EXPECT_EQ(SequenceMatcher::opcodes(blocks({4, 5}, {})), (QList<Opcode>{Opcode{"delete", 0, 2, 0, 0}}));
    EXPECT_EQ(SequenceMatcher::opcodes(blocks({1, 2, 3}, {1, 2, 3})), (QList<Opcode>{Opcode{"equal", 0, 3, 0, 3}}));

    // The earliest block in a wins a tie.
    const SequenceMatcher m({1, 2, 1, 2}, {1, 2});
    EXPECT_EQ(m.findLongestMatch(0, 4, 0, 2), (Block{0, 0, 2}));
    EXPECT_EQ(m.findLongestMatch(3, 3, 1, 2), (Block{3, 1, 0}));
    EXPECT_EQ(SequenceMatcher::opcodes(m.matchingBlocks()),
              (QList<Opcode>{{"equal", 0, 2, 0, 2}, {"delete", 2, 4, 2, 2}}));

    // A popular element still anchors: 300 copies of 7 in a b of 400.
    std::vector<std::int64_t> b(400, 7);
    for (size_t i = 0; i < 100; ++i)
        b[i * 4] = std::int64_t(i + 100);
    const auto found = blocks({7, 7, 7}, b);
    EXPECT_EQ(found.first(), (Block{0, 1, 3}));

    EXPECT_EQ(SequenceMatcher::ratio(3, 8), 0.75);
    EXPECT_EQ(SequenceMatcher::ratio(0, 0), 1.0);
}

TEST(Collate, comparesWordsByTheirExactCodeUnitsLessTheirPunctuation)
{
    const CollateResult same = Collate::compare(QStringLiteral("قال رسول الله"), QStringLiteral("قال  رسول\nالله"));
    EXPECT_EQ(same.ops, (QList<CollateOp>{CollateOp{"equal", "قال رسول الله", "قال رسول الله"}}));
    EXPECT_EQ(same.ratio, 100);
    EXPECT_EQ(Collate::compare({}, {}).ratio, 100);
    EXPECT_TRUE(Collate::compare({}, {}).ops.isEmpty());

    const CollateResult fromEmpty = Collate::compare({}, QStringLiteral("حدثنا مالك"));
    EXPECT_EQ(fromEmpty.ops, (QList<CollateOp>{CollateOp{"insert", "", "حدثنا مالك"}}));
    EXPECT_EQ(fromEmpty.ratio, 0);

    // A diacritic, or the composed and decomposed alef with madda, differ.
    const CollateResult marked = Collate::compare(QStringLiteral("عن مالك"), QStringLiteral("عن مالكٍ"));
    EXPECT_EQ(tags(marked.ops), (QStringList{"equal", "replace"}));
    EXPECT_EQ(marked.ops[1], (CollateOp{"replace", "مالك", "مالكٍ"}));
    const CollateResult forms = Collate::compare(QString::fromUtf16(u"\u0622من"), QString::fromUtf16(u"\u0627\u0653من"));
    EXPECT_EQ(tags(forms.ops), QStringList{"replace"});

    // Punctuation is no difference: a comma after a word, a bracket around
    // it, an asterisk or a dash standing alone (kept with the word before it).
    const CollateResult commas = Collate::compare(QStringLiteral("حدثنا محمد بن بشار، حدثنا (يحيى) * عن"),
                                                  QStringLiteral("- حدثنا محمد بن بشار حدثنا يحيى عن"));
    EXPECT_EQ(commas.ratio, 100);
    EXPECT_EQ(commas.ops, (QList<CollateOp>{CollateOp{"equal", "حدثنا محمد بن بشار، حدثنا (يحيى) * عن",
                                                      "- حدثنا محمد بن بشار حدثنا يحيى عن"}}));
    EXPECT_EQ(Collate::compare(QStringLiteral("قال: نعم."), QStringLiteral("قال نعم")).ratio, 100);
    EXPECT_EQ(tags(Collate::compare(QStringLiteral("قال، عمر"), QStringLiteral("قال، عمرو")).ops),
              (QStringList{"equal", "replace"}));

    // 5 of 8 words: 62.5 rounds to 62; 127 of 200: 63.5 rounds to 64.
    EXPECT_EQ(Collate::compare(QStringLiteral("a b c x"), QStringLiteral("a b c y")).ratio, 75);
    EXPECT_EQ(Collate::compare(QStringLiteral("a b c d e"), QStringLiteral("a b x")).ratio, 50);
    QStringList a, b;
    for (int i = 0; i < 100; ++i) {
        a << QStringLiteral("w%1").arg(i);
        b << (i < 63 ? QStringLiteral("w%1").arg(i) : QStringLiteral("v%1").arg(i));
    }
    EXPECT_EQ(Collate::compare(a.join(' '), b.join(' ')).ratio, 63);
    QStringList c, d;
    for (int i = 0; i < 127; ++i)
        c << QStringLiteral("s%1").arg(i);
    d = c;
    for (int i = 0; i < 73; ++i)
        c << QStringLiteral("u%1").arg(i);
    for (int i = 0; i < 73; ++i)
        d << QStringLiteral("t%1").arg(i);
    EXPECT_EQ(Collate::compare(c.join(' '), d.join(' ')).ratio, 64); // 2·127/400 = 63.5
    QStringList e = a.mid(0, 5), f = a.mid(0, 5);
    e << "p" << "q" << "r";
    f << "s" << "t" << "u";
    EXPECT_EQ(Collate::compare(e.join(' '), f.join(' ')).ratio, 62); // 2·5/16 = 62.5
}

// Matching blocks and operations equal those of Python's difflib with no
// junk and no automatic junk, on random sequences over small and large
// alphabets and on the token ids of real pages.
TEST(SequenceMatcher, agreesWithDifflibOnRandomAndRealSequences)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        GTEST_SKIP() << "python3 is not installed: the comparison with difflib is skipped";

    std::mt19937 rng(7);
    std::vector<std::pair<std::vector<std::int64_t>, std::vector<std::int64_t>>> cases;
    for (int n = 0; n < 3000; ++n) {
        const int alphabet = n % 3 == 0 ? 2 : n % 3 == 1 ? 6 : 40;
        std::uniform_int_distribution<int> len(0, n % 50 == 0 ? 400 : 30), sym(0, alphabet - 1);
        std::vector<std::int64_t> a(size_t(len(rng))), b(size_t(len(rng)));
        for (auto& x : a)
            x = sym(rng);
        for (auto& x : b)
            x = sym(rng);
        cases.emplace_back(std::move(a), std::move(b));
    }
    const QStringList two = test::bookPages("books/002.json");
    const QStringList three = test::bookPages("books/003.json");
    for (qsizetype seq = 2; seq < std::min(two.size(), three.size()) - 1; ++seq) {
        std::unordered_map<std::u16string, std::int64_t> ids;
        auto tokens = [&](const QString& text) {
            std::vector<std::int64_t> out;
            for (const QString& w : Py::split(text))
                out.push_back(ids.try_emplace(Py::key(w), std::int64_t(ids.size())).first->second);
            return out;
        };
        auto a = tokens(two.value(seq));
        auto b = tokens(three.value(seq + 1));
        cases.emplace_back(std::move(a), std::move(b));
    }

    Json::Value input = Json::Value::array();
    for (const auto& [a, b] : cases)
        input.push_back({a, b});
    QTemporaryDir dir;
    const QString inputPath = dir.filePath("cases.json");
    {
        QFile file(inputPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Json::dumpBytes(input));
    }
    QProcess py;
    py.start(python, {QStringLiteral("-c"), QStringLiteral(R"(
import difflib, json, sys
out = []
for a, b in json.load(open(sys.argv[1])):
    m = difflib.SequenceMatcher(None, a, b, autojunk=False)
    out.append([[list(x) for x in m.get_matching_blocks()], [list(x) for x in m.get_opcodes()]])
json.dump(out, sys.stdout)
)"),
                      inputPath});
    ASSERT_TRUE(py.waitForFinished(120000));
    ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    const auto expected = Json::parse(py.readAllStandardOutput());
    ASSERT_TRUE(expected && expected->is_array());
    ASSERT_EQ(expected->size(), cases.size());

    int mismatches = 0;
    for (size_t n = 0; n < cases.size() && mismatches < 5; ++n) {
        const SequenceMatcher m(cases[n].first, cases[n].second);
        const auto got = m.matchingBlocks();
        Json::Value gotBlocks = Json::Value::array();
        for (const Block& bl : got)
            gotBlocks.push_back({bl.i, bl.j, bl.size});
        Json::Value gotOps = Json::Value::array();
        for (const Opcode& op : SequenceMatcher::opcodes(got))
            gotOps.push_back({op.tag.toStdString(), op.i1, op.i2, op.j1, op.j2});
        const Json::Value want = (*expected)[n];
        if (gotBlocks != want[0] || gotOps != want[1]) {
            ++mismatches;
            ADD_FAILURE() << "case " << n << ": " << gotBlocks.dump() << " vs " << want[0].dump();
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Collate, aPageOfOneTranscriptionFindsItsTwinInTheOther)
{
    QTemporaryDir dir;
    auto db = test::corpusLibrary(dir.path());
    ASSERT_TRUE(db);
    // Book 2 is pages 41-80, book 3 pages 81-121, one front page more.
    for (std::int64_t seq : {5, 17, 33}) {
        const auto result = Collate::run(*db, 40 + seq, 3);
        ASSERT_TRUE(result) << seq;
        EXPECT_EQ(result->otherBookId, 3);
        EXPECT_EQ(result->otherSeq, seq + 1);
        EXPECT_EQ(result->otherPageId, 80 + seq + 1);
        EXPECT_EQ(result->otherTitle, QStringLiteral("سنن ابن ماجه"));
        EXPECT_GE(result->ratio, 40) << seq;
        // The operations rebuild both pages word for word.
        QStringList a, b;
        for (const CollateOp& op : result->ops) {
            if (!op.a.isEmpty())
                a << op.a;
            if (!op.b.isEmpty())
                b << op.b;
        }
        const auto text = [&](std::int64_t id) {
            return Py::split(*db->rows("SELECT content FROM pages WHERE id=?", {id}).first().str(0)).join(' ');
        };
        EXPECT_EQ(a.join(' '), text(40 + seq));
        EXPECT_EQ(b.join(' '), text(result->otherPageId));
    }

    // Against the Muwatta the same page finds nothing like itself.
    const auto far = Collate::run(*db, 45, 1);
    if (far) {
        EXPECT_LT(far->ratio, 40);
    }
    // A page without shingles has no match, even with its twin in place.
    ASSERT_TRUE(db->run("DELETE FROM shingles WHERE page_id=?", {50}));
    EXPECT_FALSE(Collate::matchPage(*db, 50, 3));
    EXPECT_FALSE(Collate::run(*db, 50, 3));
}

TEST(Collate, aPageWithMoreShinglesThanOneStatementBindsStillMatches)
{
    QTemporaryDir dir;
    auto db = test::corpusLibrary(dir.path());
    ASSERT_TRUE(db);
    const auto before = Collate::matchPage(*db, 60, 3);
    ASSERT_TRUE(before);
    const qsizetype hashes = TextReuse::pageHashes(*db, 60).size();
    ASSERT_GT(hashes, 8);
    // Fewer parameters than the page has hashes: the counts go in slices.
    sqlite3_limit(db->handle(), SQLITE_LIMIT_VARIABLE_NUMBER, int(hashes / 4));
    EXPECT_EQ(Collate::matchPage(*db, 60, 3), before);
}
