#pragma once

// What the window tests share: the application prepared as the windowed start
// prepares it, and fixture libraries in their own temporary folders.

#include "core/Library.h"
#include "core/Preferences.h"
#include "support/FixtureLibrary.h"
#include "ui/shell/AppDelegate.h"

#include <QDir>
#include <QImage>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <vector>

namespace quorvel::test {

inline void prepareWindows()
{
    AppDelegate::prepareApplication();
}

// The base of the window tests: the application prepared, and the given
// preferences unset, before each test.
class WindowTest : public ::testing::Test {
protected:
    WindowTest() = default;
    WindowTest(std::initializer_list<const char*> keys) : keys_(keys) {}

    void SetUp() override
    {
        prepareWindows();
        clearPreferences();
    }

    void clearPreferences()
    {
        for (const char* key : keys_)
            Preferences::standard().remove(QString::fromLatin1(key));
    }

private:
    std::vector<const char*> keys_;
};

// A library built from tests/data under a name of its own; "library.db" makes
// it count as the local store.
struct FixtureLib {
    explicit FixtureLib(const QString& fileName = QStringLiteral("fixture.db"))
    {
        path = FixtureLibrary::build(dir.path(), {}, fileName);
        if (!path.isEmpty())
            lib = Library::open(path);
    }
    QTemporaryDir dir;
    QString path;
    std::shared_ptr<Library> lib;
};

// How many different colours an image holds, counting up to `cap`.
inline int colourCount(const QImage& image, int cap = 64)
{
    QSet<QRgb> seen;
    const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < rgb.height(); y += 3) {
        for (int x = 0; x < rgb.width(); x += 3) {
            seen.insert(rgb.pixel(x, y));
            if (seen.size() >= cap)
                return cap;
        }
    }
    return int(seen.size());
}

} // namespace quorvel::test
