#pragma once

#include <optional>

#include <QStringList>

namespace corvanta {

// The process's command-line arguments, without the program path.
class Launch {
public:
    explicit Launch(QStringList arguments = {})
        : m_arguments(std::move(arguments))
    {
    }
    // The arguments of the running process.
    static Launch fromProcess();

    // The argument after the first one equal to `flag`; none when the flag is
    // absent or is the last argument.
    std::optional<QString> value(QStringView flag) const;
    bool has(QStringView flag) const { return m_arguments.contains(flag); }

    // The --sandbox folder, absolute and clean with no trailing slash: its
    // Library, Trash and Caches are its siblings, and "DIR/" would put them
    // inside it. None without the flag; throws Error when the flag names no
    // folder, or the root folder.
    std::optional<QString> sandbox() const;
    // `folder` as sandbox() gives it; throws Error for nothing or the root folder.
    static QString sandboxFolder(const QString& folder);

    const QStringList& arguments() const { return m_arguments; }

private:
    QStringList m_arguments;
};

} // namespace corvanta
