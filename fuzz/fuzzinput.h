#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace quorrin::fuzz {

// The fuzzer's bytes as text: UTF-8, as a server or a command line sends it, unless the first
// byte is 0xFF; then the rest is raw UTF-16, which may hold what no decoder makes (unpaired
// surrogates, any code unit).
inline QString decodeInput(const uint8_t *data, size_t size)
{
    if (size > 0 && data[0] == 0xFF) {
        QString text((qsizetype(size) - 1) / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(char16_t(data[1 + 2 * i] | (data[2 + 2 * i] << 8)));
        return text;
    }
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Ends the run as a crash when a property that must hold does not.
inline void require(bool property)
{
    if (!property)
        std::abort();
}

} // namespace quorrin::fuzz
