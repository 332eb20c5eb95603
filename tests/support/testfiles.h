#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

namespace quorrin::test {

// The whole content of a file; empty when there is none.
inline QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Creates or replaces a file with `content`; a failure fails the test.
inline void writeFile(const QString &path, const QByteArray &content = {})
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

} // namespace quorrin::test
