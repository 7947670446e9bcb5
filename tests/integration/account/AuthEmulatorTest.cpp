#include "EmulatedAuth.h"
#include "account/Account.h"
#include "support/QtPrinters.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

const auto registered = testing::AddGlobalTestEnvironment(new AuthEmulatorEnvironment);

const QString ada = u"ada@example.com"_s;
const QString secret = u"secret1"_s;
const QString mismatch = u"That email and password don't match."_s;
const QString ended = u"Your session ended. Sign in again."_s;
Auth::Now at(QDateTime moment)
{
    return [moment] { return moment; };
}

// base64url without padding, as JWTs write their parts.
QByteArray jwtPart(const QJsonObject& object)
{
    return QJsonDocument(object)
        .toJson(QJsonDocument::Compact)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// An unsigned Google ID token, which the emulator takes at its word.
QString googleIDToken(const QString& subject, const QString& email, const QString& name)
{
    const QJsonObject header { { u"alg"_s, u"none"_s }, { u"typ"_s, u"JWT"_s } };
    const QJsonObject claims { { u"sub"_s, subject }, { u"email"_s, email }, { u"email_verified"_s, true },
        { u"iss"_s, u"https://accounts.google.com"_s }, { u"aud"_s, u"corvanta-test-client"_s },
        { u"name"_s, name } };
    return QString::fromLatin1(jwtPart(header) + '.' + jwtPart(claims) + '.');
}

enum class Op { signUp, signIn };
struct PasswordRow {
    const char* name;
    Op op;
    QString email;
    QString password;
    QString failure; // empty: signs in to the account made first
};

TEST_F(EmulatedAuth, PasswordSignUpAndSignIn)
{
    const Session made = await(Auth::signUp(net, ada, secret, config(), at(fixedNow)));
    EXPECT_FALSE(made.uid.isEmpty());
    EXPECT_FALSE(made.idToken.isEmpty());
    EXPECT_FALSE(made.refreshToken.isEmpty());
    EXPECT_EQ(made.email, ada);
    EXPECT_EQ(made.provider, u"password"_s);
    EXPECT_EQ(made.expires, fixedNow.addSecs(3600 - 120));
    EXPECT_EQ(made.name, std::nullopt);
    EXPECT_EQ(made.emailVerified, std::nullopt);

    const PasswordRow rows[] = {
        { "sign in", Op::signIn, ada, secret, {} },
        { "wrong password", Op::signIn, ada, u"secret2"_s, u"INVALID_PASSWORD | "_s + mismatch },
        { "unknown email", Op::signIn, u"bob@example.com"_s, secret, u"EMAIL_NOT_FOUND | "_s + mismatch },
        { "existing email", Op::signUp, ada, u"another1"_s,
            u"EMAIL_EXISTS | That email can't be used for a new account. Sign in instead, or use another email."_s },
        { "weak password", Op::signUp, u"cy@example.com"_s, u"abc"_s,
            u"WEAK_PASSWORD | Use a password of at least 6 characters."_s },
    };
    for (const PasswordRow& row : rows) {
        SCOPED_TRACE(row.name);
        auto task = row.op == Op::signUp ? Auth::signUp(net, row.email, row.password, config())
                                         : Auth::signInWithPassword(net, row.email, row.password, config());
        if (!row.failure.isEmpty()) {
            EXPECT_EQ(authFailure(std::move(task)), row.failure);
            continue;
        }
        const Session session = await(std::move(task));
        EXPECT_EQ(session.uid, made.uid);
        EXPECT_EQ(session.provider, u"password"_s);
    }
}

TEST_F(EmulatedAuth, ProfileAndDisplayName)
{
    const std::optional<QString> names[] = { std::nullopt, u"Ada Lovelace"_s };
    for (const std::optional<QString>& name : names) {
        SCOPED_TRACE(name.value_or(u"unnamed"_s).toStdString());
        emulator().clear();
        const Session made = await(Auth::signUp(net, ada, secret, config()));
        if (name)
            await(Auth::updateName(net, made, *name, config()));
        const Auth::Profile profile = await(Auth::profile(net, made, config()));
        EXPECT_EQ(profile.name, name);
        EXPECT_EQ(profile.verified, false);
    }
}

struct OobRow {
    const char* name;
    std::function<QCoro::Task<>(Net&, const Session&, const CloudConfig&)> send;
    QList<QString> sentTo; // "email requestType" of each code issued
};

TEST_F(EmulatedAuth, ConfirmationAndResetMails)
{
    const OobRow rows[] = {
        { "confirmation",
            [](Net& net, const Session& session, const CloudConfig& config) {
                return Auth::sendEmailConfirmation(net, session, config);
            },
            { ada + u" VERIFY_EMAIL"_s } },
        { "reset",
            [](Net& net, const Session&, const CloudConfig& config) {
                return Auth::sendPasswordReset(net, ada, config);
            },
            { ada + u" PASSWORD_RESET"_s } },
        // EMAIL_NOT_FOUND: reported as sent, so nobody learns who has an account.
        { "reset without an account",
            [](Net& net, const Session&, const CloudConfig& config) {
                return Auth::sendPasswordReset(net, u"nobody@example.com"_s, config);
            },
            {} },
    };
    for (const OobRow& row : rows) {
        SCOPED_TRACE(row.name);
        emulator().clear();
        const Session made = await(Auth::signUp(net, ada, secret, config()));
        // Deleting accounts leaves their codes behind: only new ones count.
        const qsizetype before = emulator().oobCodes().size();
        await(row.send(net, made, config()));
        QList<QString> sentTo;
        for (const OobCode& code : emulator().oobCodes().mid(before)) {
            EXPECT_FALSE(code.oobCode.isEmpty());
            sentTo.append(code.email + u' ' + code.requestType);
        }
        EXPECT_EQ(sentTo, row.sentTo);
    }
}

struct EndedRow {
    const char* name;
    std::function<QCoro::Task<>(Net&, const Session&, const CloudConfig&)> attempt;
    QString failure;
};

TEST_F(EmulatedAuth, RefreshThenDelete)
{
    const Session made = await(Auth::signUp(net, ada, secret, config(), at(fixedNow)));
    const QDateTime later = fixedNow.addSecs(5000);
    const Session renewed = await(Auth::refresh(net, made, config(), at(later)));
    EXPECT_EQ(renewed.expires, later.addSecs(3600 - 120));
    EXPECT_FALSE(renewed.idToken.isEmpty());
    EXPECT_FALSE(renewed.refreshToken.isEmpty());
    Session kept = renewed;
    kept.idToken = made.idToken;
    kept.refreshToken = made.refreshToken;
    kept.expires = made.expires;
    EXPECT_EQ(kept, made);
    // The renewed ID token is one the service accepts.
    EXPECT_EQ(await(Auth::profile(net, renewed, config())).verified, false);

    Session forged = made;
    forged.refreshToken = u"not-a-token"_s;
    EXPECT_EQ(authFailure(Auth::refresh(net, forged, config())), u"INVALID_REFRESH_TOKEN | "_s + ended);

    await(Auth::deleteAccount(net, renewed, config()));
    const EndedRow rows[] = {
        { "sign in",
            [](Net& net, const Session&, const CloudConfig& config) -> QCoro::Task<> {
                co_await Auth::signInWithPassword(net, ada, secret, config);
            },
            u"EMAIL_NOT_FOUND | "_s + mismatch },
        { "lookup",
            [](Net& net, const Session& session, const CloudConfig& config) -> QCoro::Task<> {
                co_await Auth::profile(net, session, config);
            },
            u"USER_NOT_FOUND | "_s + ended },
        { "refresh",
            [](Net& net, const Session& session, const CloudConfig& config) -> QCoro::Task<> {
                co_await Auth::refresh(net, session, config);
            },
            u"INVALID_REFRESH_TOKEN | "_s + ended },
    };
    for (const EndedRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(authFailure(row.attempt(net, renewed, config())), row.failure);
    }
}

TEST_F(EmulatedAuth, GoogleSignIn)
{
    const QString token = googleIDToken(u"google-123"_s, u"grace@example.com"_s, u"Grace Hopper"_s);
    const Session first = await(Auth::signIn(net, token, config()));
    EXPECT_FALSE(first.uid.isEmpty());
    EXPECT_EQ(first.email, u"grace@example.com"_s);
    EXPECT_EQ(first.provider, u"google.com"_s);
    EXPECT_EQ(first.name, u"Grace Hopper"_s);
    EXPECT_EQ(first.emailVerified, true);
    // The same Google account signs in to the same Firebase user.
    EXPECT_EQ(await(Auth::signIn(net, token, config())).uid, first.uid);
}

} // namespace
