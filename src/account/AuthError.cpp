#include "account/AuthError.h"

#include <QHash>

using namespace Qt::StringLiterals;

namespace corvanta {

AuthError AuthError::firebase(const QString& message)
{
    static const QHash<QString, QString> descriptions = [] {
        const QString mismatch = u"That email and password don't match."_s;
        const QString ended = u"Your session ended. Sign in again."_s;
        return QHash<QString, QString> {
            { u"EMAIL_EXISTS"_s,
                u"That email can't be used for a new account. Sign in instead, or use another email."_s },
            { u"EMAIL_NOT_FOUND"_s, mismatch },
            { u"INVALID_PASSWORD"_s, mismatch },
            { u"INVALID_LOGIN_CREDENTIALS"_s, mismatch },
            { u"WEAK_PASSWORD"_s, u"Use a password of at least 6 characters."_s },
            { u"INVALID_EMAIL"_s, u"That doesn't look like an email address."_s },
            { u"TOO_MANY_ATTEMPTS_TRY_LATER"_s, u"Too many attempts. Wait a few minutes and try again."_s },
            { u"USER_DISABLED"_s, u"This account has been disabled."_s },
            { u"OPERATION_NOT_ALLOWED"_s, u"This sign-in method isn't switched on for Corvanta yet."_s },
            { u"TOKEN_EXPIRED"_s, ended },
            { u"INVALID_REFRESH_TOKEN"_s, ended },
            { u"USER_NOT_FOUND"_s, ended },
            { u"CREDENTIAL_TOO_OLD_LOGIN_AGAIN"_s,
                u"For your security, sign out and sign in again, then try once more."_s },
        };
    }();
    // Firebase puts the code first, then " : " and an explanation.
    const qsizetype space = message.indexOf(u' ');
    const QString code = space < 0 ? message : message.left(space);
    return AuthError(descriptions.value(code, u"Sign-in failed (%1)."_s.arg(message)), code);
}

} // namespace corvanta
