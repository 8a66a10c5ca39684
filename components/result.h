#pragma once

#include <QString>

#include <utility>
#include <variant>

// What a failed operation of a component says about itself: a description for the user.
struct Failure {
    QString description;
};

// The value of an operation that can fail, or its failure. Components report errors this way;
// the windows turn a failure into a message for the user.
template <typename T> class [[nodiscard]] Result
{
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Failure failure) : m_state(std::move(failure)) {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(m_state); }
    // Moves the value out (for values that can't be copied).
    T take() { return std::move(std::get<T>(m_state)); }
    QString error() const { return ok() ? QString() : std::get<Failure>(m_state).description; }

private:
    std::variant<T, Failure> m_state;
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure) : m_failed(true), m_error(std::move(failure.description)) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};

using Status = Result<void>;
