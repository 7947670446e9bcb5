// The cask index is read with simdjson's On-Demand API; these tests hold it
// to what Qt's full JSON parser says about the same bytes, and check a
// generated index of realistic shape end to end.

#include "demo/CaskIndexGenerator.h"
#include "sources/CaskCatalog.h"

#include <random>

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

bool qtAcceptsArrayOfObjects(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return false;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject())
            return false;
    }
    return true;
}

TEST(CaskIndexReader, AgreesWithQtOnMutatedDocuments)
{
    const QByteArray original = demo::CaskIndexGenerator(7).document(4);
    ASSERT_TRUE(qtAcceptsArrayOfObjects(original));
    ASSERT_TRUE(CaskCatalog::parse(original, std::nullopt));

    // Bytes that matter to the grammar, plus one that is never UTF-8. Qt is
    // lenient where the grammar, and we, are not: it lets any escaped
    // character stand for itself ("\." is ".") and takes raw control
    // characters in strings. So no control characters, no backslash, and no
    // edit next to one.
    const QByteArray alphabet = QByteArrayLiteral("{}[]\",: 0123456789.-+eEtfnu\xff/");
    auto nearBackslash = [](const QByteArray& body, qsizetype at) {
        return body.at(at) == '\\' || (at > 0 && body.at(at - 1) == '\\');
    };
    std::mt19937 random(12345);
    int rejected = 0;
    for (int round = 0; round < 2000; ++round) {
        QByteArray body = original;
        const int edits = 1 + int(random() % 3);
        for (int i = 0; i < edits && !body.isEmpty(); ++i) {
            const qsizetype at = qsizetype(random() % std::uint32_t(body.size()));
            const char replacement = alphabet[qsizetype(random() % std::uint32_t(alphabet.size()))];
            switch (random() % 4) {
            case 0:
                if (!nearBackslash(body, at))
                    body.remove(at, 1);
                break;
            case 1:
                if (at == 0 || body.at(at - 1) != '\\')
                    body.insert(at, replacement);
                break;
            case 2:
                if (!nearBackslash(body, at))
                    body[at] = replacement;
                break;
            default:
                body.truncate(at);
            }
        }
        const bool ours = CaskCatalog::parse(body, std::nullopt).has_value();
        const bool qts = qtAcceptsArrayOfObjects(body);
        rejected += ours ? 0 : 1;
        ASSERT_EQ(ours, qts) << "round " << round << ": " << body.toStdString();
    }
    // The mutations must actually have broken documents, or this proves nothing.
    EXPECT_GT(rejected, 700);
}

TEST(CaskIndexReader, StringsMatchQtsDecoding)
{
    // Escaped and raw UTF-8 tokens, and a member name spelled with an escape.
    const QByteArray tokens = R"(["plain","\"\\\/\b\f\n\r\t","\u0041\u00e9\u20ac","\ud83d\ude00","caf)"
                              "\xc3\xa9"
                              R"( \u2014 x","\u0000"])";
    const QJsonArray expected = QJsonDocument::fromJson(tokens).array();
    ASSERT_EQ(expected.size(), 6);
    QByteArray body = "[";
    for (const QByteArray& token : tokens.mid(1, tokens.size() - 2).split(','))
        body += R"({"t\u006fken":)" + token + R"(,"artifacts":[{"app":["A.app"]}]},)";
    body.back() = ']';
    const auto catalog = CaskCatalog::parse(body, std::nullopt);
    ASSERT_TRUE(catalog);
    ASSERT_EQ(catalog->casks.size(), 6u);
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(catalog->cask(std::size_t(i)).token, expected[i].toString()) << i;
}

TEST(CaskIndexReader, MemberTakesTheLastDuplicate)
{
    const auto catalog = CaskCatalog::parse(
        R"([{"token":"first","token":"second","artifacts":[{"app":["A.app"]}]}])", std::nullopt);
    ASSERT_TRUE(catalog);
    ASSERT_EQ(catalog->casks.size(), 1u);
    EXPECT_EQ(catalog->cask(0).token, u"second"_s);
}

// A large index is read in parts on several threads: every part's casks, and
// the texts it had to unescape, must come out where a single reader puts them,
// and a bad cask in any part turns the whole document down.
TEST(CaskIndexReader, CasksReadInPartsKeepTheirOrderAndTexts)
{
    constexpr int count = 600;
    QByteArray body = "[";
    for (int i = 0; i < count; ++i) {
        body += (i ? "," : "")
            + u"{\"token\":\"c%1\\u0041\",\"artifacts\":[{\"app\":[\"App %1.app\"]}]}"_s.arg(i).toUtf8();
    }
    body += "]";
    const auto catalog = CaskCatalog::parse(body, std::nullopt);
    ASSERT_TRUE(catalog);
    ASSERT_EQ(catalog->casks.size(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(catalog->cask(std::size_t(i)).token, u"c%1A"_s.arg(i));
        EXPECT_EQ(catalog->withApp(u"app %1.APP"_s.arg(i)), std::vector<std::size_t> { std::size_t(i) });
        ASSERT_TRUE(catalog->token(u"c%1A"_s.arg(i)));
    }
    for (const qsizetype at : { qsizetype(20), body.size() / 2, body.size() - 20 }) {
        QByteArray broken = body;
        broken[at] = '\x01';
        EXPECT_FALSE(CaskCatalog::parse(broken, std::nullopt)) << at;
    }
}

// Every cask the generated index gives an app is found by its token, with
// that app, as Qt's parser reads the same document.
TEST(CaskIndexReader, GeneratedIndexFindsEveryApp)
{
    const QByteArray body = demo::CaskIndexGenerator().document(400);
    const auto catalog = CaskCatalog::parse(body, u"sonoma"_s);
    ASSERT_TRUE(catalog);
    std::size_t withApp = 0;
    for (const QJsonValue& cask : QJsonDocument::fromJson(body).array()) {
        const QString token = cask[u"token"_s].toString();
        SCOPED_TRACE(token.toStdString());
        QString app;
        for (const QJsonValue& artifact : cask[u"artifacts"_s].toArray()) {
            for (const QJsonValue& entry : artifact[u"app"_s].toArray()) {
                if (app.isEmpty() && entry.isString())
                    app = entry.toString().section(u'/', -1);
            }
        }
        if (app.isEmpty())
            continue;
        ++withApp;
        const std::optional<Cask> byToken = catalog->token(token);
        ASSERT_TRUE(byToken);
        EXPECT_TRUE(byToken->apps.contains(app)) << app.toStdString();
    }
    EXPECT_GT(withApp, 0u);
    EXPECT_GE(catalog->casks.size(), withApp);
}

} // namespace
} // namespace corvanta
