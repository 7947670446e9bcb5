#include "account/Session.h"

#include "support/QtPrinters.h"

#include <QTimeZone>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

// 2024-01-01 00:00 UTC is 725,760,000 seconds after 2001-01-01.
const QDateTime newYear2024(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc());

Session fullSession()
{
    return { .uid = u"u1"_s,
        .email = u"ada@example.com"_s,
        .idToken = u"id"_s,
        .refreshToken = u"re"_s,
        .expires = newYear2024.addMSecs(500),
        .provider = u"password"_s,
        .name = u"Ada"_s,
        .emailVerified = false };
}

TEST(Session, EncodesFieldsInOrderWithReferenceDateSeconds)
{
    const Session session = fullSession();
    EXPECT_EQ(session.toJson(),
        R"({"uid":"u1","email":"ada@example.com","idToken":"id","refreshToken":"re","expires":725760000.5,)"
        R"("provider":"password","name":"Ada","emailVerified":false})");
    EXPECT_EQ(Session::fromJson(session.toJson()), session);

    Session bare = session;
    bare.name.reset();
    bare.emailVerified.reset();
    EXPECT_EQ(bare.toJson(),
        R"({"uid":"u1","email":"ada@example.com","idToken":"id","refreshToken":"re","expires":725760000.5,)"
        R"("provider":"password"})");
    EXPECT_EQ(Session::fromJson(bare.toJson()), bare);
}

struct DecodeRow {
    const char* name;
    QByteArray json;
    bool decodes;
};

TEST(Session, DecodingNeedsEveryRequiredFieldWithItsType)
{
    const QByteArray head = R"({"uid":"u","email":"","idToken":"i","refreshToken":"r","provider":"password")";
    const DecodeRow rows[] = {
        { "required only", head + R"(,"expires":0})", true },
        { "null optionals", head + R"(,"expires":0,"name":null,"emailVerified":null})", true },
        { "no expires", head + "}", false },
        { "expires as text", head + R"(,"expires":"0"})", false },
        { "no uid", R"({"email":"","idToken":"i","refreshToken":"r","provider":"p","expires":0})", false },
        { "email as number",
            R"({"uid":"u","email":1,"idToken":"i","refreshToken":"r","provider":"p","expires":0})", false },
        { "name as number", head + R"(,"expires":0,"name":1})", false },
        { "verified as text", head + R"(,"expires":0,"emailVerified":"yes"})", false },
        { "array", "[]", false },
        { "not JSON", "session", false },
    };
    for (const DecodeRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Session::fromJson(row.json).has_value(), row.decodes);
    }
    EXPECT_EQ(Session::fromJson(head + R"(,"expires":0})")->expires, Session::referenceDate);
}

} // namespace
