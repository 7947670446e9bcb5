#include "account/AuthError.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

struct FirebaseRow {
    QString message;
    QString code;
    QString description;
};

TEST(AuthError, FirebaseMessagesBecomeSentences)
{
    const QString mismatch = u"That email and password don't match."_s;
    const QString ended = u"Your session ended. Sign in again."_s;
    const FirebaseRow rows[] = {
        { u"EMAIL_EXISTS"_s, u"EMAIL_EXISTS"_s,
            u"That email can't be used for a new account. Sign in instead, or use another email."_s },
        { u"EMAIL_NOT_FOUND"_s, u"EMAIL_NOT_FOUND"_s, mismatch },
        { u"INVALID_PASSWORD"_s, u"INVALID_PASSWORD"_s, mismatch },
        { u"INVALID_LOGIN_CREDENTIALS"_s, u"INVALID_LOGIN_CREDENTIALS"_s, mismatch },
        { u"WEAK_PASSWORD : Password should be at least 6 characters"_s, u"WEAK_PASSWORD"_s,
            u"Use a password of at least 6 characters."_s },
        { u"INVALID_EMAIL"_s, u"INVALID_EMAIL"_s, u"That doesn't look like an email address."_s },
        { u"TOO_MANY_ATTEMPTS_TRY_LATER : Access blocked"_s, u"TOO_MANY_ATTEMPTS_TRY_LATER"_s,
            u"Too many attempts. Wait a few minutes and try again."_s },
        { u"USER_DISABLED"_s, u"USER_DISABLED"_s, u"This account has been disabled."_s },
        { u"OPERATION_NOT_ALLOWED"_s, u"OPERATION_NOT_ALLOWED"_s,
            u"This sign-in method isn't switched on for Corvanta yet."_s },
        { u"TOKEN_EXPIRED"_s, u"TOKEN_EXPIRED"_s, ended },
        { u"INVALID_REFRESH_TOKEN"_s, u"INVALID_REFRESH_TOKEN"_s, ended },
        { u"USER_NOT_FOUND"_s, u"USER_NOT_FOUND"_s, ended },
        { u"CREDENTIAL_TOO_OLD_LOGIN_AGAIN"_s, u"CREDENTIAL_TOO_OLD_LOGIN_AGAIN"_s,
            u"For your security, sign out and sign in again, then try once more."_s },
        // Unknown codes quote the whole message; the code is still its first word.
        { u"QUOTA_EXCEEDED"_s, u"QUOTA_EXCEEDED"_s, u"Sign-in failed (QUOTA_EXCEEDED)."_s },
        { u"HTTP 503"_s, u"HTTP"_s, u"Sign-in failed (HTTP 503)."_s },
        { u"EMAIL_EXISTSX : near miss"_s, u"EMAIL_EXISTSX"_s,
            u"Sign-in failed (EMAIL_EXISTSX : near miss)."_s },
    };
    for (const FirebaseRow& row : rows) {
        SCOPED_TRACE(row.message.toStdString());
        const AuthError error = AuthError::firebase(row.message);
        EXPECT_EQ(error.code(), row.code);
        EXPECT_EQ(error.description(), row.description);
    }
}

} // namespace
