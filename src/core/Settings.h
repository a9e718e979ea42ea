#pragma once

// The reader's and the application's behaviour preferences. Every getter
// reads its key from the standard preferences store on each call and every
// setter writes it straight back, so two readers never disagree; nothing is
// cached here. Setters never post a change notice: the code that changes a
// preference posts Notifier::readerSettingsChanged itself.

#include <QColor>
#include <QString>

#include <cstdint>

namespace quorvel::Settings {

inline constexpr const char* readerFontKey = "readerFont";
inline constexpr const char* readerSizeKey = "readerSize";
inline constexpr const char* lineSpacingKey = "lineSpacing";
inline constexpr const char* indicDigitsKey = "indicDigits";
inline constexpr const char* nightReadingKey = "nightReading";
inline constexpr const char* quranUthmaniKey = "quranUthmani";
inline constexpr const char* restoreSessionKey = "restoreSession";
inline constexpr const char* checkUpdatesKey = "checkUpdates";
inline constexpr const char* skippedBuildKey = "skippedBuild";
inline constexpr const char* copyNoTashkeelKey = "copyNoTashkeel";
inline constexpr const char* copyNoFootnoteRefsKey = "copyNoFootnoteRefs";
inline constexpr const char* showTashkeelKey = "showTashkeel";
inline constexpr const char* paperColorKey = "paperHex";

inline constexpr double defaultReaderSize = 23;
inline constexpr double defaultLineSpacing = 10;

QString readerFont();
void setReaderFont(const QString& name);

double readerSize();
void setReaderSize(double points);

double lineSpacing();
void setLineSpacing(double points);

bool indicDigits();
void setIndicDigits(bool on);

bool nightReading();
void setNightReading(bool on);

bool quranUthmani();
void setQuranUthmani(bool on);

bool restoreSession();
void setRestoreSession(bool on);

bool checkUpdates();
void setCheckUpdates(bool on);

std::int64_t skippedBuild();
void setSkippedBuild(std::int64_t build);

bool copyNoTashkeel();
void setCopyNoTashkeel(bool on);

bool copyNoFootnoteRefs();
void setCopyNoFootnoteRefs(bool on);

bool showTashkeel();
void setShowTashkeel(bool on);

QColor paperColor();
void setPaperColor(const QColor& color);

// The paper colour's stored form: parsing and formatting of "paperHex".
QColor defaultPaperColor();
QColor parsePaperHex(const QString& text); // invalid text → default colour
QString paperHex(const QColor& color);

} // namespace quorvel::Settings
