#pragma once

// The structured reports of six answer modes, written from the library's own
// texts: what the scholars said (views), a question across the centuries
// (history), a term in the lexicons and elsewhere (term), a scholar's card and
// what the biographical books say of him (biography), where a text occurs
// verbatim (takhrij) and the main books of a topic (sources). No builder asks
// the model; `run` may put a checked model summary on top of a report.
//
// A report is lines ending in "\n": headings begin "## ", bullets "- ", and
// every verbatim quotation is «text» [n], n in ASCII digits and the number of
// a passage of the report. Other numbers follow the user's digits.

#include "assistant/AIAnswer.h"
#include "assistant/AIAssistant.h"
#include "assistant/AIMode.h"
#include "assistant/LocalLLM.h"
#include "assistant/Passage.h"
#include "core/CountedNoun.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace quorvel {
class Library;
}

namespace quorvel::Reports {

using BookScope = AIAssistant::BookScope;

// A built report: the passages it quotes, numbered in the order used, its
// text, and the leading part of the text that stays first when a model
// summary is inserted (the biography's card; empty elsewhere).
struct Built {
    QList<Passage> passages;
    QString text;
    QString head;
};

// ---- Tables ------------------------------------------------------------------

// What report answering shows for a report that found nothing.
const QString& notFound();
// Ordinal names of the Hijri centuries by number; entry 0 is empty and never shown.
const std::array<QString, 16>& centuryNames();
// Words that mark a category of lexicons, language and terminology books.
const QStringList& lexiconKeys();
// Words that mark a category of biographical and historical books.
const QStringList& tarajimKeys();
const CountedNoun& mawadi(); // places
const CountedNoun& tabaat(); // editions

// ---- Shared operations ---------------------------------------------------------

// The question's terms, those of five letters or more without their article.
QStringList keys(const QString& q);
// The passages whose normalised text holds enough of the keys: all of one or
// two, else three quarters rounded up; every passage when there are no keys.
QList<Passage> relevant(const QString& q, const QList<Passage>& passages);
// The words of a text in normal form as the books write them: a verse's
// Uthmani spelling read in the plain one («القرءان» as «القران»).
QStringList wordsAsWritten(const QString& text);
// As relevant(), a key held only as a word in one of its forms
// (Arabic::wordForms: clitics, pronouns, one ending), never as the first
// letters of a longer word: «القرء» not in «القرءان», «الجار» not in «الجارية».
QList<Passage> holdingWords(const QString& q, const QList<Passage>& passages);
// The forms in which a sentence names the question's words as its topic:
// with the article and its clitics (الغيبة، بالغيبة، للغيبة).
QSet<QString> namedForms(const QString& q);
// One full-text group a word: every form of it (Arabic::wordForms) as an
// exact term, so that a count of pages is a count of the pages holding it.
QStringList wordGroups(const QStringList& words);
// The passages numbered 1, 2, … in list order.
QList<Passage> renumber(QList<Passage> passages);
// Oldest author first (undated last, in their order), renumbered.
QList<Passage> chrono(QList<Passage> passages);
// "القرن … الهجري" of a death year; "غير محدد الوفاة" when unknown or below 1.
QString century(std::optional<std::int64_t> year);
// The author's display name, else the title with the book's date when above 1.
QString who(const Passage& p);
// Where a passage is from, `title` being its book as the report names it:
// "who في «title»", and a verse of the Quran "title (sura: verse)".
QString whereFrom(const Passage& p, const QString& title);
// One verbatim quotation of the passage: its best sentence for the question
// (one holding `containing` when any does, else the sentence around the
// page's own words of it), else the window around the keys; whole words,
// never ending inside a name or a formula of blessing, «…» where it cuts a
// sentence.
QString quote(const QString& q, const Passage& p, const std::optional<QString>& containing = std::nullopt);
// The stretch [from, to) of a text as a quotation shows it: whole words,
// grown to finish a name or a formula of blessing (or a broken name left
// out), «…» at either end where a sentence goes on beyond it; line breaks
// become spaces.
QString quotedStretch(const QString& text, qsizetype from, qsizetype to);
// How many books the ids name, a work in several editions counted once:
// "كتابين (في ٣ طبعات)" for two works in three books; repeated ids count once.
QString worksCount(const Library& lib, const QList<std::int64_t>& books, CountedNoun::Case grammaticalCase);
// The passages without those whose book is an edition of an earlier one's
// work and whose quotation reads the same, renumbered; `editions`, when
// given, receives for each kept passage's page the books of the editions it
// stands for, its own first.
QList<Passage> onePerWork(const Library& lib, const QString& q, const QList<Passage>& passages,
                          const std::optional<QString>& containing = std::nullopt,
                          QHash<std::int64_t, QList<std::int64_t>>* editions = nullptr);
// The title each passage's book shows: with what tells it apart from another
// book of the passages that shares its title.
QHash<std::int64_t, QString> shownTitles(const Library& lib, const QList<Passage>& passages);
// The passages with the lines that are a heading of their page in the
// book's table of contents, or part of one, cut out, and so is a chapter's
// heading that runs on into its first hadith's isnad on one line: a
// chapter's title is nobody's view, nor a book's text of a hadith. Each cut leaves «…» on its
// own line, so that a quotation running across it says so instead of joining
// the text around it. A passage of headings alone is left out.
QList<Passage> withoutHeadings(const Library& lib, const QList<Passage>& passages);
// A page's text with its footnotes' rule shown as the label "[الحاشية]" on a line of its own.
QString footnotesLabelled(const QString& content);
// Two quotations read the same: nearly every word of the shorter is in the
// longer (punctuation, spelling slips and where each was cut aside).
bool readAlike(const QStringList& words, const QStringList& otherWords);
// The books of every category whose name holds one of the keys as written.
QSet<std::int64_t> books(const Library& lib, const QStringList& keys);
// `ids` within the scope; `ids` itself when there is no scope.
QSet<std::int64_t> sub(const BookScope& scope, const QSet<std::int64_t>& ids);

// ---- Builders --------------------------------------------------------------------

Built views(const Library& lib, const QString& q, const BookScope& scope);
Built history(const Library& lib, const QString& q, const BookScope& scope);
Built term(const Library& lib, const QString& q, const BookScope& scope);
Built biography(const Library& lib, const QString& q, const BookScope& scope);
// Runs the search engine, which needs the library itself.
Built takhrij(Library& lib, const QString& q, const BookScope& scope);
Built sources(const Library& lib, const QString& q, const BookScope& scope);

// ---- Answering ---------------------------------------------------------------------

// The report of the mode as a structured answer; for the modes that use the
// model, when it is ready, a summary of the report's passages goes on top
// only if every check passes. Never fails: a failure becomes the note.
AIAnswer run(Library& lib, const QString& question, AIMode mode, const BookScope& scope = std::nullopt,
             const LocalLLM::DeltaHandler& onDelta = {});

} // namespace quorvel::Reports
