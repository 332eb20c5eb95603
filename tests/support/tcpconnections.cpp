#include "tcpconnections.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSet>

namespace quorrin::test {

// Each line of /proc/net/tcp: "sl local rem st ...", addresses as hexadecimal "address:port",
// an established connection in state 01. The table is read in pieces while sockets come and
// go, so one may be listed twice: each is counted once, by its local end.
int establishedConnections(int port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray remote = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QSet<QByteArray> ends;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(2).endsWith(remote) && fields.at(3) == "01")
            ends.insert(fields.at(1));
    }
    return int(ends.size());
}

} // namespace quorrin::test
