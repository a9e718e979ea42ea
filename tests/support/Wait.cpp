#include "support/Wait.h"

#include <QTest>

namespace quorvel::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

} // namespace quorvel::test
