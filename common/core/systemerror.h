#pragma once

#include <QString>

namespace quorrin {

// The French words for a system call's errno, for a report or a message.
QString systemErrorCause(int error);

} // namespace quorrin
