#include "patternfile.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cstring>

namespace quorrin::bench {

bool makePatternFile(const QString &path, qint64 size, quint32 seed)
{
    QFile file(path);
    if (file.exists() && file.size() == size)
        return true;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block;
    for (qint64 offset = 0; offset < size; offset += block.size()) {
        block.resize(qsizetype(std::min<qint64>(1 << 20, size - offset)));
        for (qsizetype j = 0; j < block.size(); j += 8) {
            const quint64 word = quint64(seed) << 40 ^ quint64(offset + j);
            std::memcpy(block.data() + j, &word, size_t(std::min<qsizetype>(8, block.size() - j)));
        }
        if (file.write(block) != block.size())
            return false;
    }
    return true;
}

bool sameContent(const QString &first, const QString &second)
{
    QFile a(first);
    QFile b(second);
    if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.size() != b.size())
        return false;
    if (a.size() == 0)
        return true;
    const uchar *left = a.map(0, a.size());
    const uchar *right = b.map(0, b.size());
    return left && right && std::memcmp(left, right, size_t(a.size())) == 0;
}

} // namespace quorrin::bench
