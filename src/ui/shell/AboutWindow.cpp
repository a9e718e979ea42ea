#include "ui/shell/AboutWindow.h"

#include "core/Arabic.h"
#include "core/Build.h"
#include "core/CountedNoun.h"
#include "core/Library.h"
#include "ui/kit/Dialogs.h"
#include "ui/kit/RichTextBuilder.h"

#include <QApplication>
#include <QIcon>
#include <QRegularExpression>

namespace quorvel::AboutWindow {

namespace {

// A Latin run inside the Arabic credits: a licence's name, the Quran text's host.
constexpr char kLatinRun[] = "[A-Za-z](?:[A-Za-z0-9 .\\-]*[A-Za-z0-9])?";
constexpr char16_t kNoBreakSpace = u'\u00A0';

// The text with every Latin run isolated left to right, so that the Arabic
// comma or bracket beside a run is not drawn inside it («CC BY 3.0،»), and
// kept on one line: a licence's name cut at the line's end reads backwards.
QString isolateLatin(const QString& text)
{
    static const QRegularExpression latin(QString::fromLatin1(kLatinRun));
    QString out;
    qsizetype from = 0;
    for (auto it = latin.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += text.mid(from, match.capturedStart() - from)
               + RichText::leftToRight(match.captured().replace(u' ', kNoBreakSpace));
        from = match.capturedEnd();
    }
    return out + text.mid(from);
}

constexpr char kVersion[] = "الإصدار ";
constexpr char kDescription[] = "مكتبة رقمية بحثية جامعة، تعمل على جهازك دون اتصال.";
constexpr char kBooks[] = "الكتب: ";
constexpr char kAuthors[] = "المؤلّفون: ";
constexpr char kCategories[] = "الأقسام: ";
constexpr char kPages[] = "الصفحات: نحو ";
constexpr char kTextsCredit[] =
    "النصوص: من مجموعة OpenITI (رخصة CC BY-NC-SA: للنفع العامّ دون تسويق) ومن كتب نُشرت نشراً خيرياً بإذن ناشريها.";
constexpr char kQuranCredit[] = "الرسم العثماني للقرآن الكريم: نص مشروع تنزيل";
constexpr char kQuranHost[] = "tanzil.net";
constexpr char kQuranLicence[] = " (رخصة CC BY 3.0، منقول كما هو).";
constexpr char kFontsCredit[] = "الخطوط: أميري وأميري قرآن،";
constexpr char kLogoFont[] = "عارف رقعة";
constexpr char kFontsTail[] = "، آي بي إم بلكس العربي (رخصة OFL المفتوحة).";

} // namespace

QString text(const Library& lib, const QString& version)
{
    // Page ids are numbered per book with gaps (a book's ids start at its own
    // block), so the largest id says nothing of how many pages there are; the
    // count is what the reader asks about. "about" stays: books can be added
    // while the window is open.
    const std::int64_t pages = lib.pageCount();
    QString out = QString::fromUtf8(kVersion) + Arabic::version(version);
    out += QLatin1Char('\n') + QString::fromUtf8(kDescription) + QStringLiteral("\n\n") + QString::fromUtf8(kBooks) + Arabic::num(lib.books().size());
    out += QString::fromUtf8(CountedNoun::separator) + QString::fromUtf8(kAuthors) + Arabic::num(lib.authors().size());
    out += QString::fromUtf8(CountedNoun::separator) + QString::fromUtf8(kCategories) + Arabic::num(lib.categories().size());
    out += QLatin1Char('\n') + QString::fromUtf8(kPages) + Arabic::num(pages);
    QString credits = QStringLiteral("\n\n") + QString::fromUtf8(kTextsCredit);
    credits += QLatin1Char('\n') + QString::fromUtf8(kQuranCredit) + QLatin1Char(' ') + QString::fromUtf8(kQuranHost) + QString::fromUtf8(kQuranLicence);
    credits += QLatin1Char('\n') + QString::fromUtf8(kFontsCredit) + QLatin1Char(' ') + QString::fromUtf8(kLogoFont) + QString::fromUtf8(kFontsTail);
    return out + isolateLatin(credits);
}

void show()
{
    constexpr int kIconPixels = 64;
    const std::shared_ptr<Library> lib = Library::shared();
    if (!lib)
        return;
    const QString version = QString::fromUtf8(build::version);
    const QIcon icon = QApplication::windowIcon();
    Dialogs::alert(QString::fromUtf8(displayName), text(*lib, version.isEmpty() ? QString::fromUtf8(fallbackVersion) : version),
                   nullptr, icon.isNull() ? QPixmap() : icon.pixmap(kIconPixels));
}

} // namespace quorvel::AboutWindow
