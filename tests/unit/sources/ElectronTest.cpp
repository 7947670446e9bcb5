#include "sources/Electron.h"

#include "sources/CheckError.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

const QUrl feed(u"https://updates.example.com/app/latest-mac.yml"_s);

QString failure(const QByteArray& body)
{
    try {
        Electron::parse(body, feed);
    } catch (const CheckError& error) {
        return error.description();
    }
    return u"<no error>"_s;
}

struct ValueRow {
    const char* line;
    const char* key;
    std::optional<QString> value;
};

std::ostream& operator<<(std::ostream& os, const ValueRow& row)
{
    return os << row.line;
}

class ElectronValue : public testing::TestWithParam<ValueRow> { };

TEST_P(ElectronValue, Reads)
{
    const ValueRow& row = GetParam();
    EXPECT_EQ(Electron::value(QString::fromUtf8(row.line), QString::fromUtf8(row.key)), row.value);
}

INSTANTIATE_TEST_SUITE_P(Table, ElectronValue,
    testing::Values(ValueRow { "version: 1.2.3", "version", u"1.2.3"_s },
        ValueRow { "version: '1.2.3'", "version", u"1.2.3"_s },
        ValueRow { "version: \"1.2.3\"  ", "version", u"1.2.3"_s },
        ValueRow { "\t  - url: App-1.2.3-mac.zip", "url", u"App-1.2.3-mac.zip"_s },
        ValueRow { "version:1.0", "version", u"1.0"_s },
        // Another key that merely begins with the same letters.
        ValueRow { "versionCode: 5", "version", std::nullopt },
        ValueRow { "# version: 1", "version", std::nullopt },
        ValueRow { "version:", "version", std::nullopt }, ValueRow { "version: ''", "version", std::nullopt },
        ValueRow { "-url: x", "url", std::nullopt }));

TEST(ElectronFeed, TypicalFeed)
{
    const Release release = Electron::parse("version: 4.2.0\n"
                                            "files:\n"
                                            "  - url: App-4.2.0-arm64-mac.zip\n"
                                            "    sha512: AAAA==\n"
                                            "    size: 104857600\n"
                                            "  - url: App-4.2.0-arm64.dmg\n"
                                            "    size: 5\n"
                                            "path: App-4.2.0-arm64-mac.zip\n"
                                            "releaseDate: '2024-05-01T10:00:00.000Z'\n",
        feed);
    EXPECT_EQ(release.kind, SourceKind::electron);
    EXPECT_EQ(release.version, u"4.2.0"_s);
    EXPECT_FALSE(release.build);
    EXPECT_FALSE(release.notes);
    ASSERT_TRUE(release.download);
    // The first file entry, resolved next to the feed.
    EXPECT_EQ(release.download->url, QUrl(u"https://updates.example.com/app/App-4.2.0-arm64-mac.zip"_s));
    EXPECT_EQ(release.download->size, 104857600);
    EXPECT_FALSE(release.download->sha256);
}

TEST(ElectronFeed, WindowsLineBreaksAndAbsoluteURL)
{
    const Release release = Electron::parse(
        "files:\r\n  - url: https://cdn.example.com/A.zip\r\n    size: -12\r\nversion: \"2.0.1\"\r\n", feed);
    EXPECT_EQ(release.version, u"2.0.1"_s);
    ASSERT_TRUE(release.download);
    EXPECT_EQ(release.download->url, QUrl(u"https://cdn.example.com/A.zip"_s));
    EXPECT_EQ(release.download->size, -12);
}

TEST(ElectronFeed, SizeThatIsNoNumberIsLeftOut)
{
    for (const char* size : { "size: 12MB", "size: 99999999999999999999", "size: 1 2", "size: +" }) {
        const Release release = Electron::parse(QByteArray("version: 1\nurl: a.zip\n") + size + "\n", feed);
        ASSERT_TRUE(release.download) << size;
        EXPECT_FALSE(release.download->size) << size;
    }
    EXPECT_EQ(Electron::parse("version: 1\nurl: a.zip\nsize: +7\n", feed).download->size, 7);
}

TEST(ElectronFeed, NoUrlMeansNoDownload)
{
    EXPECT_FALSE(Electron::parse("version: 1.0\npath: App.zip\n", feed).download);
}

TEST(ElectronFeed, InvalidBytesAreRepaired)
{
    const Release release = Electron::parse("version: 1.0\xff\xfe\nurl: a.zip\n", feed);
    ASSERT_TRUE(release.version);
    EXPECT_TRUE(release.version->startsWith(u"1.0"_s));
    EXPECT_TRUE(release.download);
}

TEST(ElectronFeed, VersionOnlyOnIndentedLinesFails)
{
    EXPECT_EQ(failure("files:\n  - url: a.zip\n    version: 1.0\n"), u"latest-mac.yml has no version"_s);
    EXPECT_EQ(failure(""), u"latest-mac.yml has no version"_s);
    EXPECT_EQ(failure("<html><body>Not here</body></html>"), u"latest-mac.yml has no version"_s);
}

} // namespace
