#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace quorrin::downloader {

// The time of the user's action that launched a start, as X11 startup ids carry it at their
// end ("…_TIME<server time>"); 0, which X reads as "now", when the id carries none.
std::uint32_t startupIdTime(const QString &startupId);

// The startup notification message that ends the launch feedback (the busy pointer, the
// launcher's animation) of the start with `startupId`: "remove: ID=<id>", the id quoted and
// escaped when it holds a blank, a quote or a backslash.
QByteArray startupRemoveMessage(const QString &startupId);

} // namespace quorrin::downloader
