#include "ui/kit/WriteFailure.h"

#include "core/DistFetch.h"

namespace quorvel::WriteFailure {

namespace {
constexpr char kDiskFull[] = "لا مساحة كافية على القرص";
constexpr char kReadOnly[] = "ملف بيانات المستخدم لا يقبل الكتابة";
constexpr char kDamaged[] = "ملف بيانات المستخدم تالف";
constexpr char kBusy[] = "برنامج آخر يكتب في ملف بيانات المستخدم";
} // namespace

QString reason(const SQLFailure& failure)
{
    if (failure.systemError != 0)
        return Dist::fileErrorReason(failure.systemError);
    switch (failure.kind) {
    case SQLFailure::Kind::full:
        return QString::fromUtf8(kDiskFull);
    case SQLFailure::Kind::readOnly:
        return QString::fromUtf8(kReadOnly);
    case SQLFailure::Kind::damaged:
        return QString::fromUtf8(kDamaged);
    case SQLFailure::Kind::busy:
        return QString::fromUtf8(kBusy);
    default:
        return failure.message;
    }
}

} // namespace quorvel::WriteFailure
