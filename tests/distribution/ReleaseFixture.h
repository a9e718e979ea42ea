#pragma once

// Signed releases made in a temporary folder for the distribution tests: a
// fresh key pair trusted for the test's lifetime, books built from short page
// lists, and a way to rewrite and re-sign the index.

#include "core/Json.h"
#include "distribution/ReleaseWriter.h"

#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace quorvel::test {

class ReleaseFixture : public ::testing::Test {
public:
    // A book of plain pages (seq 1..n, pid = id × 1000 + seq) with the given texts.
    static ReleaseWriter::Book book(std::int64_t id, const QString& title, const QStringList& pages);

protected:
    void SetUp() override;
    void TearDown() override;

    // Writes the packages of `books` and a signed release (release 1, far
    // expiry) into the folder; returns the catalogue's book entries.
    Json::Value writeRelease(const QList<ReleaseWriter::Book>& books, std::int64_t release = 1);
    // Replaces index.json with `index` dumped compactly, signed unless told not to.
    void writeIndex(const Json::Value& index, bool sign = true);
    Json::Value readIndex() const;
    QByteArray readFile(const QString& name) const;
    void writeFile(const QString& name, const QByteArray& bytes) const;

    QUrl base() const { return QUrl::fromLocalFile(dir_.path()); }
    QString path() const { return dir_.path(); }

    ReleaseWriter::KeyPair keys_;
    QTemporaryDir dir_;
    Json::Value categories_ = Json::Value::array();
    Json::Value authors_ = Json::Value::array();
};

} // namespace quorvel::test
