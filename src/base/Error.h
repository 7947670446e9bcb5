#pragma once

#include <exception>

#include <QByteArray>
#include <QString>

namespace corvanta {

// The root of every error a user may read: description() is the complete
// sentence shown as it stands. Readers and the installer throw subclasses;
// the model's actions catch them and turn them into statuses and phases.
class Error : public std::exception {
public:
    explicit Error(QString description)
        : m_description(std::move(description))
        , m_what(m_description.toUtf8())
    {
    }

    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

// A failed file-system or process call, keeping errno so callers can tell a
// missing permission from any other failure.
class SystemError : public Error {
public:
    SystemError(QString description, int code)
        : Error(std::move(description))
        , m_code(code)
    {
    }

    int code() const noexcept { return m_code; }

    // "<what>: <strerror>" for the current errno.
    static SystemError fromErrno(const QString& what);

private:
    int m_code;
};

} // namespace corvanta
