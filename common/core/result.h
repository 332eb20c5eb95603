#pragma once

#include <QString>

#include <utility>
#include <variant>

namespace quorrin {

// Why something failed, in French, for the report or a message.
struct Failure {
    QString cause;
};

// Either a value or the cause of the failure that left none. `Result<>` carries no value: it
// only tells success from a failure and its cause.
template <typename T = std::monostate> class [[nodiscard]] Result {
public:
    Result() = default;
    Result(T value)
        : m_state(std::move(value))
    {
    }
    Result(Failure failure)
        : m_state(std::move(failure))
    {
    }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return std::get<T>(m_state); }
    // The failure's cause; empty on success.
    QString cause() const { return ok() ? QString() : std::get<Failure>(m_state).cause; }

private:
    std::variant<T, Failure> m_state;
};

} // namespace quorrin
