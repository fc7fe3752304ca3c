#pragma once

#include <QString>

#include <optional>
#include <utility>

// A value or the plain-words reason why there is none. Failures travel as values so that a
// caller cannot forget that an operation may fail.
template <class T> class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(QString reason) { return Result(std::move(reason), 0); }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const QString& error() const { return m_error; }

private:
    Result(QString reason, int) : m_error(std::move(reason)) {}
    std::optional<T> m_value;
    QString m_error;
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    static Result failure(QString reason) { return Result(std::move(reason)); }

    bool ok() const { return m_error.isNull(); }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }

private:
    explicit Result(QString reason) : m_error(reason.isNull() ? QStringLiteral("") : reason) {}
    QString m_error;
};

using Status = Result<void>;
