#pragma once

#include <QString>

namespace quorvel::test {

// A small library whose catalogue is shaped to reach the corners of how
// books, volumes, pages and authors are named (built through FixtureLibrary,
// so it is stored exactly as an installed library):
//
// categories 1 "كتب الحديث", 2 "الفقه", 3 "أصول الفقه"
// authors
//   1 مالك بن أنس, full name differs, died 179 ("179 هـ")
//   2 عروة بن الزبير, died -5 (before the Hijra)
//   3 "—" (a placeholder name), died 300
//   4 أبو فلان, year 1 (unknown)
//   5 الشافعي, died 204, death text "٢٠٤" (the year itself)
//   6 مجهول الوفاة, no year
// books
//   10 المدونة الكبرى (author 1, category 2): volumes "١" (seq 1-5, pages
//      1-5) and "٢" (seq 6-10, pages 1, 2, 3, 5, 6); seq 3 has footnotes;
//      305 table-of-contents entries: a PARATEXT entry at seq 1, a chain of
//      14 nested chapters at seq 2, then 290 flat entries from seq 6
//   11 رسالة في الأصول (author 5, category 3): one volume label "1",
//      seq 1-3, seq 2 of exactly 40 words
//   12 كتاب بلا قسم (author 2, no category), seq 1-2
//   13 كتاب المجهول (author 3, category 1), seq 1
//   14 كتاب أبي فلان (author 4, category 1), seq 1, no date
//   15 كتاب مؤرخ (author 6, category 2, book date 500), seq 1
namespace ReferenceLibrary {

// Writes the catalogue into `dir` and builds "reference.db" there; returns
// its path, or an empty text when building failed.
QString build(const QString& dir);

} // namespace ReferenceLibrary
} // namespace quorvel::test
