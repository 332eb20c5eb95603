#include "tcpconnections.h"

#include <QByteArray>
#include <QFile>
#include <QList>

namespace quorrin::test {

// Each line of /proc/net/tcp: "sl local rem st ...", addresses as hexadecimal "address:port",
// an established connection in state 01.
int establishedConnections(int port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray remote = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    int count = 0;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(2).endsWith(remote) && fields.at(3) == "01")
            ++count;
    }
    return count;
}

} // namespace quorrin::test
