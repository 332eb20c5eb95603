#pragma once

#include <QByteArray>
#include <QString>

namespace quorrin::updater {

// The updater as a program, for the update site at `baseUrl` whose installers are signed with
// the minisign key `publicKey` (its base64 line; empty: installers are offered unchecked).
// Takes main()'s arguments and returns its exit status.
int runUpdater(int argc, char *argv[], const QString &baseUrl, const QByteArray &publicKey);

} // namespace quorrin::updater
