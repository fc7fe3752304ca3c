#pragma once

#include <QString>

#include <optional>
#include <utility>

// What a failure means for the work that would follow it.
enum class Reach
{
    Everything, // what follows would most likely fail the same way: stop
    ThisItem,   // only the one thing asked for (a file the server lacks, one the user protects)
    Refused,    // the server refuses this client, so it will refuse every later request too
    Forbidden,  // the server will not give this item (403): a file store says so of a file it
                // lacks, a service with credentials of a client it does not know
    TooLarge    // only this item, which is larger than the program takes
};

// A value or the plain-words reason why there is none. Failures travel as values so that a
// caller cannot forget that an operation may fail.
template <class T> class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    static Result failure(QString reason, Reach reach = Reach::Everything)
    {
        return Result(std::move(reason), reach);
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const QString& error() const { return m_error; }
    Reach reach() const { return m_reach; }

private:
    Result(QString reason, Reach reach) : m_error(std::move(reason)), m_reach(reach) {}
    std::optional<T> m_value;
    QString m_error;
    Reach m_reach = Reach::Everything;
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    static Result failure(QString reason, Reach reach = Reach::Everything)
    {
        return Result(std::move(reason), reach);
    }

    bool ok() const { return m_error.isNull(); }
    explicit operator bool() const { return ok(); }
    const QString& error() const { return m_error; }
    Reach reach() const { return m_reach; }

private:
    Result(QString reason, Reach reach)
        : m_error(reason.isNull() ? QStringLiteral("") : reason), m_reach(reach)
    {}
    QString m_error;
    Reach m_reach = Reach::Everything;
};

using Status = Result<void>;
