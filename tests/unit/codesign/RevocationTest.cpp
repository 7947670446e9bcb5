#include "Printers.h"
#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "support/SigningFixtures.h"
#include "support/TestAuthority.h"

#include <QTemporaryDir>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

const test::TestAuthority& authority()
{
    static const test::TestAuthority instance;
    return instance;
}

SigningIdentity leafAnswering(const QString& team, const QString& responder)
{
    test::LeafOptions options;
    options.team = team;
    options.ocspUrl = responder;
    return authority().identity(options);
}

// A signed sample app in its own folder.
struct SignedApp {
    QTemporaryDir dir;
    QString path;

    explicit SignedApp(const SigningIdentity& identity)
        : path(test::makeSampleApp(dir.path()))
    {
        SigningOptions options;
        options.identity = identity;
        CodeSigner(options).sign(path);
    }
};

TEST(Revocation, TheLeafsResponderDecidesAndItsAnswersAreKept)
{
    test::OcspResponder responder;
    const QString closed = u"http://127.0.0.1:%1/"_s.arg(test::OcspResponder::freePort());
    const SigningIdentity good = leafAnswering(u"GOODTEAM01"_s, responder.url());
    const SigningIdentity revoked = leafAnswering(u"REVOKED001"_s, responder.url());
    ASSERT_TRUE(responder.start(authority(), { { good.leaf, false }, { revoked.leaf, true } }, 2))
        << "openssl ocsp didn't start; scripts/setup.sh installs openssl";

    struct Row {
        const char* name;
        SignedApp app;
        int status;
        std::optional<QString> note;
    };
    const Row rows[] {
        { "good", SignedApp(good), SigningStatus::ok, std::nullopt },
        { "revoked", SignedApp(revoked), SigningStatus::certificateRevoked, std::nullopt },
        { "unreachable", SignedApp(leafAnswering(u"TESTTEAM01"_s, closed)), SigningStatus::ok,
            u"Couldn't reach the certificate's revocation service at "_s + closed
                + u" (connection refused); accepted, as macOS does when it can't check."_s },
    };
    const PortableCodeSigning signing { authority().anchors() };
    // The responder is gone after its two answers (one per certificate, however
    // much code each signed), so only kept answers give the second round's verdicts.
    for (const int round : { 1, 2 }) {
        for (const Row& row : rows) {
            const ValidityResult result = signing.checkValidity(row.app.path, ValidityFlags::installer);
            EXPECT_EQ(result.status, row.status) << row.name << " round " << round;
            EXPECT_EQ(result.message, SigningStatus::message(row.status)) << row.name;
            EXPECT_EQ(result.revocationNote, row.note) << row.name << " round " << round;
        }
    }
}

TEST(Revocation, IsAskedOnlyWithTheFlagAndNoLongerThanTheDeadline)
{
    // A responder that takes connections and never answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const QString url = u"http://127.0.0.1:%1/"_s.arg(ntohs(address.sin_port));
    const SignedApp app(leafAnswering(u"TESTTEAM01"_s, url));
    PortableCodeSigning signing { authority().anchors() };
    signing.setRevocationDeadline(std::chrono::milliseconds(200));

    const ValidityResult unasked
        = signing.checkValidity(app.path, ValidityFlags::installer & ~ValidityFlags::enforceRevocationChecks);
    EXPECT_TRUE(unasked.isValid());
    EXPECT_FALSE(unasked.revocationNote);
    EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "asked without the flag";

    const ValidityResult asked = signing.checkValidity(app.path, ValidityFlags::installer);
    EXPECT_TRUE(asked.isValid());
    EXPECT_EQ(asked.revocationNote,
        u"The certificate's revocation service at "_s + url
            + u" didn't answer in time; accepted, as macOS does when it can't check."_s);
    const int connection = ::accept(listener, nullptr, nullptr);
    EXPECT_GE(connection, 0) << "not asked with the flag";
    if (connection >= 0)
        ::close(connection);
    ::close(listener);
}

} // namespace
