#include "core/AtomicFile.h"
#include "core/Notifier.h"
#include "core/Preferences.h"
#include "core/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <utility>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace quorvel;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(Preferences::standard().filePath());
        Preferences::standard().reload();
    }
    void TearDown() override { SetUp(); }

    static void store(const char* key, const Json::Value& v) { Preferences::standard().set(key, v); }

    static void expectRgb(const QColor& c, int r, int g, int b)
    {
        EXPECT_EQ(c.red(), r);
        EXPECT_EQ(c.green(), g);
        EXPECT_EQ(c.blue(), b);
        EXPECT_EQ(c.alpha(), 255);
    }
};

} // namespace

TEST_F(SettingsTest, freshStoreGivesDefaults)
{
    EXPECT_EQ(Settings::readerFont(), "Amiri");
    EXPECT_EQ(Settings::readerSize(), 23);
    EXPECT_EQ(Settings::lineSpacing(), 10);
    EXPECT_TRUE(Settings::indicDigits());
    EXPECT_FALSE(Settings::nightReading());
    EXPECT_TRUE(Settings::quranUthmani());
    EXPECT_TRUE(Settings::restoreSession());
    EXPECT_TRUE(Settings::checkUpdates());
    EXPECT_EQ(Settings::skippedBuild(), 0);
    EXPECT_FALSE(Settings::copyNoTashkeel());
    EXPECT_FALSE(Settings::copyNoFootnoteRefs());
    EXPECT_TRUE(Settings::showTashkeel());
    expectRgb(Settings::paperColor(), 241, 234, 215);
    // Reading defaults never writes them.
    EXPECT_FALSE(QFile::exists(Preferences::standard().filePath()));
}

TEST_F(SettingsTest, sizesAtOrBelowZeroReadAsDefault)
{
    Settings::setReaderSize(0);
    Settings::setLineSpacing(-4);
    EXPECT_EQ(Settings::readerSize(), 23);
    EXPECT_EQ(Settings::lineSpacing(), 10);
    Settings::setReaderSize(31.5);
    EXPECT_EQ(Settings::readerSize(), 31.5);
    Preferences::standard().remove(Settings::readerSizeKey);
    EXPECT_EQ(Settings::readerSize(), 23);
}

TEST_F(SettingsTest, defaultTrueGroupOnlyTurnsOffForAStoredBoolean)
{
    const std::pair<const char*, bool (*)()> group[] = {
        {Settings::indicDigitsKey, Settings::indicDigits},
        {Settings::quranUthmaniKey, Settings::quranUthmani},
        {Settings::restoreSessionKey, Settings::restoreSession},
        {Settings::checkUpdatesKey, Settings::checkUpdates},
        {Settings::showTashkeelKey, Settings::showTashkeel},
    };
    for (const auto& [key, read] : group) {
        SCOPED_TRACE(key);
        store(key, false);
        EXPECT_FALSE(Preferences::standard().object(key)->get<bool>());
        EXPECT_FALSE(read());
        store(key, "no");
        EXPECT_TRUE(Preferences::standard().object(key)->is_string());
        EXPECT_TRUE(read());
    }
    store(Settings::indicDigitsKey, false);
    EXPECT_FALSE(Settings::indicDigits());
    store(Settings::indicDigitsKey, "false");
    EXPECT_TRUE(Settings::indicDigits());
    store(Settings::showTashkeelKey, 0);
    EXPECT_TRUE(Settings::showTashkeel());
    // The false-by-default group follows the store's Boolean reading.
    store(Settings::nightReadingKey, "YES");
    EXPECT_TRUE(Settings::nightReading());
    store(Settings::copyNoTashkeelKey, 1);
    EXPECT_TRUE(Settings::copyNoTashkeel());
}

TEST_F(SettingsTest, paperHexParsing)
{
    for (const char* text : {"f1ead7", "F1EAD7", "+f1ead7", "fff1ead7"}) {
        SCOPED_TRACE(text);
        expectRgb(Settings::parsePaperHex(text), 241, 234, 215);
    }
    const QColor fallback = Settings::defaultPaperColor();
    for (const char* text : {"#f1ead7", "0xf1ead7", "f1eag7", "100000000", "", "+", " f1ead7",
                             "-1"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Settings::parsePaperHex(text), fallback);
    }
    expectRgb(Settings::parsePaperHex("ff000000"), 0, 0, 0);
    expectRgb(Settings::parsePaperHex("-0"), 0, 0, 0);
}

TEST_F(SettingsTest, paperHexWritingRoundTrips)
{
    Settings::setPaperColor(QColor::fromRgb(0, 234, 215));
    EXPECT_EQ(Preferences::standard().string(Settings::paperColorKey), "ead7");
    expectRgb(Settings::paperColor(), 0, 234, 215);
    Settings::setPaperColor(QColor::fromRgb(241, 234, 215));
    EXPECT_EQ(Preferences::standard().string(Settings::paperColorKey), "f1ead7");
    // Components between two 8-bit steps truncate toward zero.
    QColor fine;
    fine.setRgbF(0.5, 0.999, 0.0);
    Settings::setPaperColor(fine);
    EXPECT_EQ(Preferences::standard().string(Settings::paperColorKey), "7ffe00");
}

TEST_F(SettingsTest, settersPostNoNotice)
{
    QSignalSpy reader(&Notifier::shared(), &Notifier::readerSettingsChanged);
    QSignalSpy user(&Notifier::shared(), &Notifier::userDataChanged);
    Settings::setNightReading(true);
    Settings::setReaderSize(30);
    Settings::setPaperColor(Qt::white);
    EXPECT_EQ(reader.count(), 0);
    EXPECT_EQ(user.count(), 0);
}

TEST(PreferencesTest, typesSurviveTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("prefs/p.json");
    {
        Preferences p(path);
        p.set("b", true);
        p.set("i", std::int64_t(7));
        p.set("d", 2.5);
        p.set("s", QStringLiteral("نص"));
        p.set("l", Json::toJson(QStringList{"a", "b"}));
    }
    Preferences p(path);
    EXPECT_TRUE(p.object("b")->is_boolean());
    EXPECT_TRUE(p.object("i")->is_number_integer());
    EXPECT_EQ(p.integerValue("i"), 7);
    EXPECT_EQ(p.doubleValue("d"), 2.5);
    EXPECT_EQ(p.string("s"), QStringLiteral("نص"));
    EXPECT_EQ(p.object("l")->size(), 2u);
}

TEST(PreferencesTest, corruptFileReadsEmptyAndIsKeptUntilAWrite)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    // Last, a value nested far deeper than any preference: reading it whole
    // would end the program on its stack.
    const int levels = 200'000;
    const QByteArray deep = "{\"x\":" + QByteArray(levels, '[') + QByteArray(levels, ']') + "}";
    for (const QByteArray& bad : {QByteArray("{not json"), QByteArray("[1,2]"), QByteArray("7"), deep}) {
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bad);
        }
        Preferences p(path);
        EXPECT_FALSE(p.object("x"));
        EXPECT_EQ(p.doubleValue("x"), 0);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), bad);
    }
    // The first write keeps the file it cannot read beside it, never over an
    // earlier one.
    for (const QString& aside : {path + ".unreadable", path + ".unreadable.2"}) {
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(deep);
        }
        Preferences p(path);
        p.set("x", true);
        EXPECT_TRUE(Preferences(path).boolValue("x"));
        QFile kept(aside);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << aside.toStdString();
        EXPECT_TRUE(kept.readAll() == deep);
    }
}

TEST(PreferencesTest, aWriteThatCannotFinishKeepsTheOldFile)
{
    // A full device fails only when the buffered bytes are flushed.
    QFile full(QStringLiteral("/dev/full"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    EXPECT_EQ(AtomicFile::put(full, {QByteArray(100, 'x')}), QStringLiteral("لا مساحة كافية على القرص"));

    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    Preferences p(path);
    p.set("readerSize", 20.0);
    const QString exported = dir.filePath("data.html");
    ASSERT_FALSE(AtomicFile::replace(exported, QByteArray("<p>old</p>")));
    auto contents = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray oldPreferences = contents(path);
    ASSERT_FALSE(oldPreferences.isEmpty());

    // A file-size limit stops the writes part-way, as a filling disk does.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 4096;
    QSignalSpy told(&Notifier::shared(), &Notifier::preferencesUnwritable);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    p.set("lastQuery", QString(6957, QLatin1Char('x')));
    p.set("readerFont", "Amiri");
    p.remove("readerSize");
    const std::optional<QString> pageFault = p.saveFault();
    const std::optional<QString> failed = AtomicFile::replace(exported, QByteArray(6957, 'x'));
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    // Told once for the run of failures, with the reason, which a later
    // success clears.
    EXPECT_EQ(told.size(), 1);
    EXPECT_EQ(pageFault, QStringLiteral("الملف أكبر مما يسمح به النظام"));
    EXPECT_EQ(contents(path), oldPreferences);
    EXPECT_EQ(Preferences(path).doubleValue("readerSize"), 20);
    EXPECT_EQ(failed, QStringLiteral("الملف أكبر مما يسمح به النظام"));
    EXPECT_EQ(contents(exported), QByteArray("<p>old</p>"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);

    // A folder or a pipe in the file's place is refused in words, and left as it was.
    const QString folder = dir.filePath("folder.html");
    const QString pipe = dir.filePath("pipe.html");
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_EQ(AtomicFile::replace(folder, QByteArray("x")), QStringLiteral("مجلد وليس ملفاً"));
    EXPECT_EQ(AtomicFile::replace(pipe, QByteArray("x")), QStringLiteral("ليس ملفاً عادياً"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_FALSE(QFileInfo(pipe).isFile());
    p.set("readerSize", 20.0);
    EXPECT_FALSE(p.saveFault());
    EXPECT_EQ(told.size(), 1);
}

TEST(PreferencesTest, argumentDomainIsReadFirstAndStaysVolatile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    Preferences p(path);
    p.set("readerSize", 20.0);
    p.registerArguments({"quorvel", "-readerSize", "30", "--mcp", "-nightReading", "YES", "-dangling"});
    EXPECT_EQ(p.doubleValue("readerSize"), 30);
    EXPECT_TRUE(p.boolValue("nightReading"));
    EXPECT_FALSE(p.object("-mcp"));
    EXPECT_FALSE(p.object("dangling"));
    EXPECT_EQ(Preferences(path).doubleValue("readerSize"), 20);
    EXPECT_FALSE(Preferences(path).object("nightReading"));
}

TEST(PreferencesTest, coercions)
{
    QTemporaryDir dir;
    Preferences p(dir.filePath("p.json"));
    p.set("t", "12.5pt");
    EXPECT_EQ(p.doubleValue("t"), 12.5);
    EXPECT_EQ(p.integerValue("t"), 12);
    p.set("t", "abc");
    EXPECT_EQ(p.doubleValue("t"), 0);
    EXPECT_FALSE(p.boolValue("t"));
    p.set("t", "0009");
    EXPECT_TRUE(p.boolValue("t"));
    p.set("t", true);
    EXPECT_EQ(p.integerValue("t"), 1);
}

TEST(JsonTest, strictReadsRefuseLookalikes)
{
    const auto v = Json::parse(R"({"i":1,"b":true,"f":1.0,"s":"x","n":null})");
    ASSERT_TRUE(v);
    EXPECT_EQ(Json::strictInt(*v, "i"), 1);
    EXPECT_FALSE(Json::strictInt(*v, "b"));
    EXPECT_FALSE(Json::strictInt(*v, "f"));
    EXPECT_FALSE(Json::strictBool(*v, "i"));
    EXPECT_EQ(Json::strictBool(*v, "b"), true);
    EXPECT_FALSE(Json::strictDouble(*v, "b"));
    EXPECT_EQ(Json::strictDouble(*v, "i"), 1.0);
    EXPECT_FALSE(Json::strictString(*v, "n"));
    EXPECT_FALSE(Json::strictString(*v, "missing"));
    // The largest signed value passes; an unsigned one above it must not wrap.
    const auto big = Json::parse(R"({"max":9223372036854775807,"over":9223372036854775808})");
    ASSERT_TRUE(big);
    EXPECT_EQ(Json::strictInt(*big, "max"), INT64_MAX);
    EXPECT_FALSE(Json::strictInt(*big, "over"));
    EXPECT_EQ(Json::strictDouble(*big, "over"), 9223372036854775808.0);
    EXPECT_FALSE(Json::parse("{\"a\":"));
    EXPECT_TRUE(Json::parse("42"));
}

TEST(JsonTest, dumpSortsKeysWritesRawUtf8AndEscapesSlashOnRequest)
{
    Json::Value v = {{"z", "a/b"}, {"a", "قال"}, {"m", 1.5}};
    EXPECT_EQ(Json::dump(v), R"({"a":"قال","m":1.5,"z":"a/b"})");
    EXPECT_EQ(Json::dump(v, {.escapeSlash = true}), R"({"a":"قال","m":1.5,"z":"a\/b"})");
    EXPECT_EQ(Json::oneDecimal(12.345), 12.3);
    EXPECT_EQ(Json::dump(Json::Value(Json::oneDecimal(3.96))), "4.0");
    // Broken UTF-8 is replaced, not thrown.
    EXPECT_NO_THROW(Json::dump(Json::Value(std::string("a\xff"))));
}
