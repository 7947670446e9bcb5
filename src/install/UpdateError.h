#pragma once

#include "base/Error.h"

#include <exception>

namespace corvanta {

// The one error of installing and removing apps; description() is the
// sentence shown on the app's row.
class UpdateError : public Error {
public:
    explicit UpdateError(QString description, bool needsPermission = false, bool final = false)
        : Error(std::move(description))
        , m_needsPermission(needsPermission)
        , m_final(final)
    {
    }

    // macOS refused the change until Corvanta gets the App Management
    // permission; the queue marks the app blocked and retries later.
    bool needsPermission() const noexcept { return m_needsPermission; }
    // The user said no; trying again (or another release) makes no sense.
    bool final() const noexcept { return m_final; }

    // What a file-system failure of changing the app `name` means to the
    // user: an EPERM (refused by the system's protection of apps) becomes the
    // App Management text, an EACCES (owned by someone else) the
    // administrator text, whether the SystemError is `error` itself or nested
    // in it (std::throw_with_nested). Anything else is returned unchanged.
    static std::exception_ptr from(std::exception_ptr error, const QString& name);

private:
    bool m_needsPermission;
    bool m_final;
};

} // namespace corvanta
