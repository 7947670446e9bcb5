#pragma once

#include "base/Error.h"

#include <optional>

namespace corvanta {

// What the account client throws for an answer it can't use; `code` is
// Firebase's error code when the server gave one.
class AuthError : public Error {
public:
    explicit AuthError(QString description, std::optional<QString> code = std::nullopt)
        : Error(std::move(description))
        , m_code(std::move(code))
    {
    }

    const std::optional<QString>& code() const noexcept { return m_code; }

    // Firebase's error message ("CODE : explanation") as the sentence a user reads.
    static AuthError firebase(const QString& message);

private:
    std::optional<QString> m_code;
};

} // namespace corvanta
