#include "discovery/ElectronFeed.h"

#include "Printers.h"
#include "discovery/Scanner.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace ElectronFeed = corvanta::ElectronFeed;
using namespace Qt::StringLiterals;

namespace {

struct FeedRow {
    const char* name;
    QString yaml;
    std::optional<QString> feed;
};

std::ostream& operator<<(std::ostream& os, const FeedRow& row)
{
    return os << row.name;
}

class ElectronFeedURL : public testing::TestWithParam<FeedRow> { };

TEST_P(ElectronFeedURL, FollowsTheProviderRules)
{
    const FeedRow& row = GetParam();
    const std::optional<QUrl> feed = ElectronFeed::feedURL(ElectronFeed::parseConfig(row.yaml));
    ASSERT_EQ(feed.has_value(), row.feed.has_value()) << (feed ? feed->toString().toStdString() : "none");
    if (row.feed) {
        EXPECT_EQ(feed->toString(QUrl::FullyEncoded), *row.feed);
    }
}

const QString acmeTool = u"https://github.com/acme/tool/releases/latest/download/latest-mac.yml"_s;

INSTANTIATE_TEST_SUITE_P(Table, ElectronFeedURL,
    testing::Values(
        FeedRow { "github, repo quoted", u"provider: github\nowner: acme\nrepo: 'tool'\n"_s, acmeTool },
        FeedRow { "github, double quotes and padding",
            u"  provider :\tgithub \nowner: \"acme\"\nrepo:  ' tool' \n"_s, acmeTool },
        FeedRow { "packager's own output",
            u"owner: acme\nrepo: tool\nprovider: github\nupdaterCacheDirName: tool-updater\n"_s, acmeTool },
        FeedRow { "CRLF line ends", u"provider: github\r\nowner: acme\r\nrepo: tool\r\n"_s, acmeTool },
        FeedRow { "later key wins", u"provider: s3\nowner: acme\nrepo: old\nprovider: github\nrepo: tool"_s,
            acmeTool },
        FeedRow { "github without repo", u"provider: github\nowner: acme\n"_s, std::nullopt },
        FeedRow { "github with empty owner", u"provider: github\nowner: ''\nrepo: tool\n"_s, std::nullopt },
        FeedRow { "s3", u"provider: s3\nbucket: acme-updates\n"_s, std::nullopt },
        FeedRow { "no provider", u"owner: acme\nrepo: tool\n"_s, std::nullopt },
        FeedRow { "provider case matters", u"provider: GitHub\nowner: acme\nrepo: tool\n"_s, std::nullopt },
        FeedRow { "empty file", u""_s, std::nullopt },
        FeedRow { "generic", u"provider: generic\nurl: https://downloads.acme.com/tool\n"_s,
            u"https://downloads.acme.com/tool/latest-mac.yml"_s },
        FeedRow { "generic, trailing slash",
            u"provider: generic\nurl: 'https://downloads.acme.com/tool/'\n"_s,
            u"https://downloads.acme.com/tool/latest-mac.yml"_s },
        FeedRow { "generic, bare host", u"provider: generic\nurl: http://acme.com\n"_s,
            u"http://acme.com/latest-mac.yml"_s },
        FeedRow { "generic keeps the query", u"provider: generic\nurl: https://acme.com/u?channel=beta\n"_s,
            u"https://acme.com/u/latest-mac.yml?channel=beta"_s },
        FeedRow { "generic without url", u"provider: generic\n"_s, std::nullopt },
        FeedRow { "generic with a relative url", u"provider: generic\nurl: updates/mac\n"_s, std::nullopt },
        FeedRow { "generic with a file url", u"provider: generic\nurl: file:///etc\n"_s, std::nullopt },
        FeedRow {
            "generic with spaces in url", u"provider: generic\nurl: https://acme.com/a b\n"_s, std::nullopt },
        // Nesting is not understood: the indented line is read as a plain line.
        FeedRow { "nested lines read flat", u"provider: github\npublish:\n  owner: acme\n  repo: tool\n"_s,
            acmeTool },
        // Characters that would end the path stay inside it.
        FeedRow { "query characters in repo", u"provider: github\nowner: acme\nrepo: tool?x=1#y\n"_s,
            u"https://github.com/acme/tool%3Fx=1%23y/releases/latest/download/latest-mac.yml"_s }));

TEST(ElectronFeed, SplitsAtTheFirstColonOnly)
{
    const QMap<QString, QString> config
        = ElectronFeed::parseConfig(u"url: https://acme.com:8443/x\nno colon here\n: empty key\nk:\n"_s);
    EXPECT_EQ(config.value(u"url"_s), u"https://acme.com:8443/x"_s);
    EXPECT_EQ(config.value(u""_s), u"empty key"_s);
    EXPECT_TRUE(config.contains(u"k"_s));
    EXPECT_EQ(config.value(u"k"_s), u""_s);
    EXPECT_EQ(config.size(), 3);
}

TEST(ElectronFeed, GitHubBaseIsAParameter)
{
    const std::optional<QUrl> feed
        = ElectronFeed::feedURL(ElectronFeed::parseConfig(u"provider: github\nowner: acme\nrepo: tool"_s),
            QUrl(u"http://127.0.0.1:8080/gh"_s));
    ASSERT_TRUE(feed);
    EXPECT_EQ(
        feed->toString(), u"http://127.0.0.1:8080/gh/acme/tool/releases/latest/download/latest-mac.yml"_s);
}

TEST(ElectronFeed, ReadsFilesAsUtf8Only)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return QUrl::fromLocalFile(dir.filePath(name));
    };
    using corvanta::Scanner::electronFeed;
    EXPECT_EQ(
        electronFeed(write(u"plain.yml"_s, "provider: github\nowner: acme\nrepo: tool\n")), QUrl(acmeTool));
    // A byte-order mark does not hide the first key.
    EXPECT_EQ(electronFeed(write(u"bom.yml"_s, "\xEF\xBB\xBFprovider: github\nowner: acme\nrepo: tool\n")),
        QUrl(acmeTool));
    EXPECT_EQ(
        electronFeed(write(u"latin1.yml"_s, "provider: github\nowner: acm\xE9\nrepo: tool\n")), std::nullopt);
    EXPECT_EQ(electronFeed(QUrl::fromLocalFile(dir.filePath(u"missing.yml"_s))), std::nullopt);
    EXPECT_EQ(electronFeed(QUrl::fromLocalFile(dir.path())), std::nullopt);
}

} // namespace
