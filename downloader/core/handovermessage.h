#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace quorrin::downloader {

// What a start of Quorrin hands to the window already open: the addresses to queue, in order,
// and what the desktop gave the start to bring a window forward with.
struct HandOver {
    QStringList addresses;
    QString startupId;       // DESKTOP_STARTUP_ID, on X11
    QString activationToken; // XDG_ACTIVATION_TOKEN, on Wayland

    friend bool operator==(const HandOver &, const HandOver &) = default;
};

// What the window did with the addresses: queued, left out because the queue was full, and
// how many entries the queue holds now.
struct HandOverReply {
    int queued = 0;
    int notQueued = 0;
    int entries = 0;

    friend bool operator==(const HandOverReply &, const HandOverReply &) = default;
};

// The largest message read: a full queue of addresses of two kibibytes each.
inline constexpr qsizetype MaxHandOverBytes = 64 << 20;
// The longest startup id or activation token; the desktop's are a few dozen characters.
inline constexpr qsizetype MaxActivationBytes = 1024;

// The message for `handOver`: UTF-8 lines, a marker with a version first and "end" last, so
// that a message cut short is never taken for a whole one. All the addresses go, those the
// queue cannot hold too: the window tells how many found no room. An empty address, or one
// that breaks a line, is none and is left out, as is a startup id or token that holds a control
// character or is longer than MaxActivationBytes.
QByteArray serializeHandOver(const HandOver &handOver);
// The hand-over in `bytes`, when they are exactly a message that serializeHandOver() writes:
// nothing for another version, a foreign or cut-short message, invalid UTF-8, a control
// character where it may not be, an empty address, or more than MaxHandOverBytes.
std::optional<HandOver> parseHandOver(QByteArrayView bytes);

QByteArray serializeHandOverReply(const HandOverReply &reply);
// The reply in `bytes`, when they are exactly one that serializeHandOverReply() writes.
std::optional<HandOverReply> parseHandOverReply(QByteArrayView bytes);

} // namespace quorrin::downloader
