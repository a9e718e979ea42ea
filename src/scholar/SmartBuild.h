#pragma once

// Prepares the smart data directory the meaning-based search runs on: the
// word-model pack ("wordvec.npy", "vocab.json"), downloaded and checked
// against the catalogue, and the page vectors of a library ("vecs.npy",
// "vec_ids.npy"), made by embedding every page with the model itself.
//
// The vector pair is written as one unit: both files are streamed to
// temporary files beside the old ones and put in place only when both are
// complete, the ids first, so a failed build leaves the previous pair as it
// was and memory stays flat however large the library. The model the pair
// was made with is stamped beside it last (SemanticIndex::modelStampFile),
// so a crash between the moves of a new pack and its vectors leaves files
// that refuse to load together rather than vectors of another model. The builder keeps
// nothing and tells nobody: whoever rebuilt the vectors resets the shared
// index so that the next search loads them.

#include "core/DistFetch.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>

namespace quorvel::SmartBuild {

// One downloadable file: its name relative to the release base, the lowercase
// hexadecimal SHA-256 of its bytes and its exact length.
struct FileRef {
    QString file;
    QString sha256;
    std::int64_t size = 0;
};

// The word-model pack a catalogue may carry as its "smart" member.
struct Pack {
    FileRef wordvec;
    FileRef vocab;
};

// The local names of the four files, whatever the release calls them.
inline const QString wordvecFile = QStringLiteral("wordvec.npy");
inline const QString vocabFile = QStringLiteral("vocab.json");
inline const QString vecsFile = QStringLiteral("vecs.npy");
inline const QString vecIdsFile = QStringLiteral("vec_ids.npy");

// The width of the vectors when "vocab.json" does not say.
constexpr std::int64_t defaultDim = 200;
// Only this many Unicode scalars of a page are embedded.
constexpr qsizetype pageScalars = 2000;
// Progress is reported after every this many pages.
constexpr std::int64_t progressStep = 2000;

inline const QString msgNoModel = QStringLiteral("نموذج الكلمات غير منزَّل بعد");
inline const QString msgModelDigest = QStringLiteral("بصمة نموذج الكلمات لا تطابق.");
// A declared size past Dist::declaredFileLimit: no model file is that large.
inline const QString msgModelTooLarge = QStringLiteral("حجم نموذج الكلمات المعلن أكبر من المقبول.");
inline const QString msgModelUnloadable = QStringLiteral("تعذّر تحميل نموذج الكلمات");
// The reason given with msgModelUnloadable for a pack whose words are mostly
// not in the library's normal form, so that no page's word can meet them.
inline const QString msgWordsNotNormal =
    QStringLiteral("أكثر كلمات النموذج ليست على صورة نصوص المكتبة فلا تطابق كلمة من صفحاتها");
// The reason given with msgModelUnloadable for a new pack whose words cover
// too little of the words on the library's pages (WordCoverage).
inline const QString msgWordsMissLibrary =
    QStringLiteral("كلمات النموذج قليلة في صفحات المكتبة فلا يكاد بحث بالمعنى يجد شيئا");
inline const QString msgPagesUnreadable = QStringLiteral("تعذّرت قراءة صفحات المكتبة لبناء المتّجهات");
inline const QString msgLibraryUnreadable = QStringLiteral("تعذّر فتح قاعدة المكتبة، أو أنها ليست قاعدة بيانات سليمة");

// The smart data directory (Paths::smartDir()).
QString dir();
// Both model files exist in the directory.
bool hasModel();
// "vecs.npy" exists in the directory.
bool hasVectors();

// Why the model files of `modelDir` would not serve a meaning search (the
// reasons buildVectors gives); empty when they would.
QString modelProblem(const QString& modelDir);

// Gathers both model files of `pack` beside the model in use, wordvec first,
// and checks that they load; buildVectors then puts them in place with the
// vectors made from them. Nothing is gathered when both files in use already
// match. A file whose SHA-256 already matches is copied unfetched; one whose
// declared size is past Dist::declaredFileLimit throws
// DistError(msgModelTooLarge) unfetched; a fetched file, written to disk as it
// arrives, of another length or digest throws DistError(msgModelDigest) and
// stops before the next file; a pack that does not load throws
// DistError(msgModelUnloadable and the reason). Fetch errors pass unchanged;
// a file that cannot be written throws PlatformError. On any failure the
// model and vectors in use stay as they were. Blocks.
void fetchModel(const Pack& pack, const QUrl& base);

// Embeds every page of the library at `libPath` (its first pageScalars
// scalars; zeros for a page without a known word) with the pack fetchModel
// gathered, else the model in use, and replaces the vector pair (and the
// model, by the gathered pack) once the new pair is complete; returns the
// number of pages written. `progress`, when given, receives done / total
// after every progressStep pages, on the calling thread. Throws
// DistError(msgNoModel) without a model, DistError(msgLibraryUnreadable) for
// a library that does not open or is not a database,
// DistError(msgModelUnloadable and the reason) when the model does not load
// or, for a gathered pack, when its words cover too little of the words on
// the pages (as embedded; WordCoverage),
// DistError(msgPagesUnreadable) when the pages cannot be read, PlatformError
// when a file cannot be written; the model and vectors in use then stay as
// they were. Long-running: call it off the GUI thread.
std::int64_t buildVectors(const QString& libPath, const std::function<void(double)>& progress = {});

// The part of a page's text that is embedded: its first pageScalars scalars.
QString embeddedText(const QString& content);

// Writes one ".npy" file (NpyArray's layout) atomically; throws PlatformError
// when it cannot be written.
void writeNpy(const QString& path, const QString& descr, const QList<std::int64_t>& shape,
              const QByteArray& body);

} // namespace quorvel::SmartBuild
