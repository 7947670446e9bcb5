#include "account/GoogleSignIn.h"

#include "account/Account.h"
#include "integration/account/EmulatedAuth.h"
#include "model/Launch.h"
#include "model/SingleInstance.h"
#include "platform/WebAuthSession.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

const auto registered = testing::AddGlobalTestEnvironment(new AuthEmulatorEnvironment);

TEST(Pkce, LengthsAlphabetAndChallenge)
{
    const Pkce pkce = Pkce::generate();
    const QRegularExpression urlSafe(u"^[A-Za-z0-9_-]+$"_s);
    const struct {
        const char* name;
        QString value;
        qsizetype length;
    } rows[] = { { "verifier", pkce.verifier, 64 }, { "challenge", pkce.challenge, 43 },
        { "state", pkce.state, 22 } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.value.size(), row.length);
        EXPECT_TRUE(urlSafe.match(row.value).hasMatch()) << row.value.toStdString();
    }
    const Pkce next = Pkce::generate();
    EXPECT_NE(next.verifier, pkce.verifier);
    EXPECT_NE(next.state, pkce.state);
    // RFC 7636, appendix B.
    EXPECT_EQ(Pkce::challengeFor(u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s),
        u"E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"_s);
}

TEST(GoogleSignInValues, CallbackSchemeIsReversedClientID)
{
    EXPECT_EQ(GoogleSignIn::callbackScheme(u"a.b.c"_s), u"c.b.a"_s);
    EXPECT_EQ(GoogleSignIn::redirectURI(u"a.b.c"_s), u"c.b.a:/oauth2redirect"_s);
}

TEST(GoogleSignInValues, LaunchWithOnlyACallbackURLHandsItOver)
{
    const QString callback = u"c.b.a:/oauth2redirect?state=s&code=c"_s;
    const struct {
        QStringList arguments;
        QString clientID = u"a.b.c"_s;
        bool handsOver = false;
    } rows[] = {
        { .arguments = { callback }, .handsOver = true },
        { .arguments = { callback }, .clientID = u""_s },
        { .arguments = { callback, u"--mock"_s } },
        { .arguments = { u"x.y:/oauth2redirect?code=c"_s } },
        { .arguments = { u"--background"_s } },
        { .arguments = {} },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.join(u' ').toStdString());
        EXPECT_EQ(GoogleSignIn::callbackArgument(row.arguments, row.clientID),
            row.handsOver ? std::optional(QUrl(callback)) : std::nullopt);
    }
}

TEST(GoogleSignInValues, AuthorizationURLHasItsItemsInOrder)
{
    const Pkce pkce { .verifier = u"v"_s, .challenge = u"C-h_1"_s, .state = u"S_t-2"_s };
    EXPECT_EQ(GoogleSignIn::authorizationURL(GoogleEndpoints {}.authorization, u"a.b.c"_s, pkce)
                  .toString(QUrl::FullyEncoded),
        u"https://accounts.google.com/o/oauth2/v2/auth?client_id=a.b.c&redirect_uri=c.b.a:/oauth2redirect"
        "&response_type=code&scope=openid%20email%20profile&code_challenge=C-h_1"
        "&code_challenge_method=S256&state=S_t-2&prompt=select_account"_s);
}

TEST(WebAuthSession, TakesOneCallbackOfItsSchemeThroughItsDesktopEntry)
{
    QTemporaryDir home;
    QProcessEnvironment environment;
    environment.insert(u"BROWSER"_s, u"true"_s);
    environment.insert(u"HOME"_s, home.path());
    environment.insert(u"XDG_DATA_HOME"_s, home.filePath(u"data"_s));
    environment.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
    const auto session
        = WebAuthSession::create(environment, { u"--sandbox"_s, u"/tmp/my \"apps\""_s, u"--x"_s, u"100%"_s });
    QCoro::Task<QUrl> flow = session->start(QUrl(u"http://127.0.0.1:9/"_s), u"c.b.a"_s);

    QFile entry(home.filePath(u"data/applications/corvanta-signin.desktop"_s));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains(u"\nExec="_s + QCoreApplication::applicationFilePath()
        + uR"( --sandbox "/tmp/my \\"apps\\"" --x 100%% %u)"_s + u'\n'))
        << text.toStdString();
    EXPECT_TRUE(text.contains(u"\nMimeType=x-scheme-handler/c.b.a;\n"_s));

    EXPECT_THROW(await(session->start(QUrl(u"http://127.0.0.1:9/"_s), u"c.b.a"_s)), Error);
    EXPECT_FALSE(session->deliver(QUrl(u"a.b.c:/oauth2redirect?code=1"_s)));
    EXPECT_TRUE(session->deliver(QUrl(u"c.b.a:/oauth2redirect?code=2"_s)));
    EXPECT_FALSE(session->deliver(QUrl(u"c.b.a:/oauth2redirect?code=3"_s)));
    EXPECT_EQ(await(std::move(flow)), QUrl(u"c.b.a:/oauth2redirect?code=2"_s));
}

const QString clientID = u"123-abc.apps.googleusercontent.com"_s;

// The whole flow: the browser script follows the authorization URL to the
// test server and launches the program with the callback URL it is sent back
// with; that launch hands it to this copy's single-instance socket.
class GoogleFlow : public EmulatedAuth {
protected:
    void SetUp() override
    {
        EmulatedAuth::SetUp();
        ASSERT_TRUE(folder.isValid());
        const QString settings = folder.filePath(u"firebase.json"_s);
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            R"({"apiKey":"demo-key","projectId":"demo-test","googleClientID":")" + clientID.toUtf8() + "\"}");
        file.close();
        const QStringList launch { u"--sandbox"_s, folder.path(), u"--firebase-config"_s, settings };
        instance.emplace(SingleInstance::nameFor(Launch(launch)));
        ASSERT_TRUE(instance->listenIfFree());
        QObject::connect(&*instance, &SingleInstance::urlOpened, &*instance,
            [this](const QUrl& url) { session->deliver(url); });
        script
            = QStringList { u"python3"_s, QStringLiteral(CORVANTA_TESTS_DIR "/integration/google/browser.py"),
                  u"%s"_s, QStringLiteral(CORVANTA_BINARY) }
                  .join(u' ')
            + u' ' + launch.join(u' ');
        useBrowser(script);
    }

    void useBrowser(const QString& command)
    {
        QProcessEnvironment environment;
        environment.insert(u"BROWSER"_s, command);
        environment.insert(u"XDG_DATA_HOME"_s, folder.filePath(u"data"_s));
        session = WebAuthSession::create(environment);
    }

    // Google's authorization endpoint sends the browser back with `query`,
    // "%1" standing for the state it was given.
    void redirectWith(const QString& query)
    {
        server.on(u"/auth"_s, [query](const RecordedRequest& request) {
            return Response::redirect(GoogleSignIn::redirectURI(clientID) + u'?'
                + (query.contains(u"%1"_s) ? query.arg(request.query.queryItemValue(u"state"_s)) : query));
        });
    }

    QCoro::Task<QString> idToken(const QString& client = clientID)
    {
        google.emplace(net, *session,
            GoogleEndpoints { .authorization = server.url(u"/auth"_s), .token = server.url(u"/token"_s) });
        return google->idToken(client);
    }

    TestServer server;
    QTemporaryDir folder;
    QString script;
    std::optional<SingleInstance> instance;
    std::unique_ptr<WebAuthSession> session;
    std::optional<GoogleSignIn> google;
};

TEST_F(GoogleFlow, BrowserCodeTokenThenFirebase)
{
    const QString token = unsignedGoogleToken(u"lin@example.com"_s, clientID);
    redirectWith(u"state=%1&code=4%2F0A%2Bb%3Dc"_s);
    server.on(u"/token"_s, Response::json(QJsonDocument(QJsonObject { { u"id_token"_s, token } }).toJson()));

    EXPECT_EQ(await(idToken()), token);

    ASSERT_EQ(server.count(u"/token"_s), 1);
    const RecordedRequest exchange = server.requests(u"/token"_s).at(0);
    EXPECT_EQ(exchange.method, "POST");
    EXPECT_EQ(exchange.header("Content-Type"), "application/x-www-form-urlencoded");
    QHash<QByteArray, QByteArray> fields;
    for (const QByteArray& pair : exchange.body.split('&'))
        fields.insert(pair.left(pair.indexOf('=')), pair.mid(pair.indexOf('=') + 1));
    const QRegularExpression encoded(u"^([A-Za-z0-9]|%[0-9A-F]{2})+$"_s);
    for (const QByteArray& value : std::as_const(fields))
        EXPECT_TRUE(encoded.match(QString::fromLatin1(value)).hasMatch()) << value.constData();
    EXPECT_EQ(fields.size(), 5);
    EXPECT_EQ(fields.value("code"), "4%2F0A%2Bb%3Dc");
    EXPECT_EQ(fields.value("client_id"), "123%2Dabc%2Eapps%2Egoogleusercontent%2Ecom");
    EXPECT_EQ(fields.value("redirect_uri"), "com%2Egoogleusercontent%2Eapps%2E123%2Dabc%3A%2Foauth2redirect");
    EXPECT_EQ(fields.value("grant_type"), "authorization%5Fcode");
    const QString verifier
        = QString::fromLatin1(QByteArray::fromPercentEncoding(fields.value("code_verifier")));
    EXPECT_EQ(Pkce::challengeFor(verifier),
        server.requests(u"/auth"_s).at(0).query.queryItemValue(u"code_challenge"_s));

    const Session signedIn = await(Auth::signIn(net, token, config()));
    EXPECT_EQ(signedIn.provider, Auth::GoogleProviderID);
    EXPECT_EQ(signedIn.email, u"lin@example.com"_s);
    EXPECT_EQ(signedIn.emailVerified, true);
}

TEST_F(GoogleFlow, Refusals)
{
    const QString cancelled = u"(cancelled)"_s;
    const struct {
        const char* name;
        QString client = clientID;
        QString query; // the callback's, "%1" for the state sent; empty: the user closes the prompt
        Response token = Response::json(R"({"id_token":"t"})");
        QString browser; // empty: the browser script
        QString failure;
        int exchanges = 0;
    } rows[] = {
        { .name = "no client id",
            .client = u""_s,
            .failure = u"Google sign-in isn't switched on for Corvanta yet."_s },
        { .name = "state mismatch with a code",
            .query = u"state=forged&code=c"_s,
            .failure = u"Google sign-in returned an unexpected answer."_s },
        { .name = "no code",
            .query = u"state=%1"_s,
            .failure = u"Google sign-in returned an unexpected answer."_s },
        { .name = "answer without id_token",
            .query = u"state=%1&code=c"_s,
            .token = Response::json(R"({"error":"invalid_grant"})", 400),
            .failure = u"Google didn't return a sign-in token."_s,
            .exchanges = 1 },
        { .name = "answer not JSON",
            .query = u"state=%1&code=c"_s,
            .token = Response::text("<html>", 502),
            .failure = u"Google's answer to the sign-in couldn't be read."_s,
            .exchanges = 1 },
        { .name = "no browser starts",
            .query = u"state=%1&code=c"_s,
            .browser = u"/nonexistent/browser"_s,
            .failure = u"Google sign-in didn't finish."_s },
        { .name = "cancelled", .failure = cancelled },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        server.clearRequests();
        useBrowser(row.browser.isEmpty() ? script : row.browser);
        if (row.query.isEmpty()) {
            // Closing the "Waiting for your browser…" prompt while the page is open.
            server.on(u"/auth"_s, [this](const RecordedRequest&) {
                session->cancel();
                return Response::text("<html>Choose an account</html>");
            });
        } else {
            redirectWith(row.query);
        }
        server.on(u"/token"_s, row.token);
        QString failure;
        try {
            await(idToken(row.client));
        } catch (const WebAuthCancelled&) {
            failure = cancelled;
        } catch (const AuthError& error) {
            failure = error.description();
        }
        EXPECT_EQ(failure, row.failure);
        EXPECT_EQ(server.count(u"/token"_s), row.exchanges);
    }
}

} // namespace
