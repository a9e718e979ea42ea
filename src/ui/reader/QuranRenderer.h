#pragma once

// The text of the Quran tab: in reading mode one sura under its heading, the
// verses one justified paragraph separated by their verse marks; in result
// mode the matching verses, each with its citation. Every character of a
// verse, its mark and its citation carries the verse's flat index under
// TextProperty::ayahKey; headings and the basmala carry none.

#include "ui/kit/RichTextBuilder.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextCharFormat>

#include <memory>
#include <optional>
#include <utility>

class QTextDocument;

namespace quorvel {

class QuranText;

namespace TextProperty {
// int: the flat index of the verse a run belongs to.
inline constexpr int ayahKey = QTextFormat::UserProperty + 3;
} // namespace TextProperty

class QuranRenderer {
public:
    // At most this many results are rendered, however many match.
    static constexpr int resultLimit = 500;

    struct State {
        const QuranText* q = nullptr;
        int sura = 1;
        int selected = 0;
        std::optional<QList<int>> results; // result mode when set
        QStringList terms;                 // normalised search words
        QString searchText;                // the search field as typed
        double readerSize = 18;
        double lineSpacing = 6;
        bool uthmaniWanted = true;                 // the script preference
        const QHash<int, QString>* uthmani = nullptr; // empty or null: no Uthmani text
    };

    explicit QuranRenderer(State state) : state_(std::move(state)) {}

    // Builds the whole text for the state (reading mode highlights the
    // selected verse); resets the verse ranges.
    std::unique_ptr<QTextDocument> render();
    // The result-list status line of the last render in result mode; empty
    // in reading mode.
    const QString& resultStatus() const { return resultStatus_; }

    // True when the Uthmani script is shown: wanted and available.
    bool uthmaniShown() const;
    // The verse text shown for flat index i.
    QString display(int i) const;
    // The mark that closes verse n in the plain script: its number, in the
    // digits of the preference, between ornate brackets.
    static QString verseMark(int n);
    // Appends verse i and its verse mark.
    void ayahString(RichTextBuilder& out, int i, bool marks);

    // Gives verse i's runs of `document` (the last one rendered) the
    // selection background when i is `selected`, and removes it otherwise.
    void restyle(QTextDocument& document, int i) { restyle(document, QList<int>{i}); }
    // The same for several verses in one edit, so that the text is laid out
    // again once (a click moves the highlight from one verse to another).
    void restyle(QTextDocument& document, const QList<int>& verses);
    // The (start, length) ranges of verse i in the last rendered text.
    QList<std::pair<int, int>> ranges(int i) const { return ranges_.value(i); }

    State& state() { return state_; }
    const State& state() const { return state_; }

    // A number of verses with its noun: "آية واحدة", "آيتان", "٧ آيات".
    static QString ayatCount(qsizetype count);

private:
    void renderSura(RichTextBuilder& out);
    void renderResults(RichTextBuilder& out);
    void addRange(int i, qsizetype start, qsizetype length);
    void restyleVerse(QTextCursor& cursor, int i);

    State state_;
    QString resultStatus_;
    QHash<int, QList<std::pair<int, int>>> ranges_;
};

} // namespace quorvel
