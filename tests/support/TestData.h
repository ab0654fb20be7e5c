// Paths to the shared sample files and small helpers to read and write test files.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

// Absolute path of an input kept in the tree (tests/data), e.g. a fuzzer's finding.
inline QString testInputPath(const QString& name) {
    return QString(QUASEL_TEST_INPUTS_DIR) + "/" + name;
}

// Absolute path of a sample file, e.g. testDataPath("fits/ngc1316o.fit").
inline QString testDataPath(const QString& relative) {
    return QString(QUASEL_TESTDATA_DIR) + "/" + relative;
}

// The whole file's bytes; an empty array when it cannot be read.
inline QByteArray readFileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

// Skips the current test when the sample file is missing.
#define REQUIRE_TEST_FILE(path)                                                               \
    do {                                                                                      \
        if (!QFile::exists(path)) GTEST_SKIP() << "sample missing: " << (path).toStdString(); \
    } while (0)

// Writes `bytes` to `path`; returns `path`, or an empty string when it cannot be written.
inline QString writeFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return {};
    return path;
}
