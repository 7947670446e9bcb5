#include "EmulatedAuth.h"
#include "account/Account.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QTcpServer>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

const QString signInPath = u"/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword"_s;
const QString tokenPath = u"/securetoken.googleapis.com/v1/token"_s;
const QString incomplete = u"- | Sign-in failed: the server's answer was incomplete."_s;

struct LieRow {
    const char* name;
    QString path;
    Response answer;
    QString failure; // empty: succeeds
    int expiresAfter = 0; // seconds after now, when it succeeds
};

// What the emulator never says: bare errors, junk, half answers, odd expiries.
TEST(LyingServer, AnswersTheEmulatorCantGive)
{
    const LieRow rows[] = {
        { "503 without a body", signInPath, Response { .status = 503 },
            u"HTTP | Sign-in failed (HTTP 503)."_s },
        { "not JSON", signInPath, Response::text("<html>hello</html>"), incomplete },
        { "no refreshToken", signInPath,
            Response::json(R"({"localId":"u","idToken":"i","expiresIn":"3600"})"), incomplete },
        { "sign-in expiry not a number", signInPath,
            Response::json(R"({"localId":"u","idToken":"i","refreshToken":"r","expiresIn":"abc"})"), {},
            3480 },
        { "refresh without refresh_token", tokenPath,
            Response::json(R"({"id_token":"i","expires_in":"3600"})"),
            u"- | Couldn't refresh your session."_s },
        { "refresh without expiry", tokenPath, Response::json(R"({"id_token":"i","refresh_token":"r"})"), {},
            3480 },
        { "refresh expiry not a number", tokenPath,
            Response::json(R"({"id_token":"i","refresh_token":"r","expires_in":"abc"})"), {}, 3400 },
    };
    const Session stored { .uid = u"u"_s,
        .email = u"e@example.com"_s,
        .idToken = u"old"_s,
        .refreshToken = u"a/b+c=="_s,
        .expires = fixedNow,
        .provider = u"password"_s,
        .name = u"E"_s };
    for (const LieRow& row : rows) {
        SCOPED_TRACE(row.name);
        TestServer server;
        server.on(row.path, row.answer);
        Net net;
        const CloudConfig config = emulatedConfig(u"127.0.0.1:%1"_s.arg(server.port()));
        const auto now = [] { return fixedNow; };
        auto task = row.path == tokenPath
            ? Auth::refresh(net, stored, config, now)
            : Auth::signInWithPassword(net, u"e@example.com"_s, u"secret1"_s, config, now);
        if (!row.failure.isEmpty()) {
            EXPECT_EQ(authFailure(std::move(task)), row.failure);
            continue;
        }
        const Session session = await(std::move(task));
        EXPECT_EQ(session.expires, fixedNow.addSecs(row.expiresAfter));
        if (row.path == tokenPath) {
            // The token goes out as stored, with no form encoding.
            const RecordedRequest request = server.requests(tokenPath).value(0);
            EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
            EXPECT_EQ(request.body, "grant_type=refresh_token&refresh_token=a/b+c==");
            EXPECT_EQ(session.name, stored.name);
        }
    }
}

TEST(LyingServer, TransportFailureIsNoAuthError)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    Net net;
    try {
        await(Auth::sendPasswordReset(net, u"e@example.com"_s, emulatedConfig(u"127.0.0.1:%1"_s.arg(port))));
        ADD_FAILURE() << "a closed port answered";
    } catch (const AuthError& error) {
        ADD_FAILURE() << "became an AuthError: " << error.what();
    } catch (const Error& error) {
        EXPECT_FALSE(error.description().isEmpty());
    }
}

} // namespace
