#include "install/Updater.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

TEST(SuggestedFileName, PrefersTheServersNameThenTheUrlThenDownload)
{
    struct Row {
        QByteArray disposition;
        const char* url;
        QString expected;
    };
    const std::vector<Row> rows {
        { "attachment; filename=\"Foo 2.1.zip\"", "https://x.test/get?id=3", u"Foo 2.1.zip"_s },
        { "attachment; filename=Foo.dmg", "https://x.test/get", u"Foo.dmg"_s },
        { "attachment;filename=\"a\\\"b.zip\"", "https://x.test/", u"a\"b.zip"_s },
        { "attachment; filename=\"plain.zip\"; filename*=UTF-8''Caf%C3%A9.zip", "https://x.test/",
            u"Caf\u00e9.zip"_s },
        { "attachment; filename*=iso-8859-1''na%EFve.zip", "https://x.test/", u"na\u00efve.zip"_s },
        { "attachment; filename*=UTF-8''", "https://x.test/Foo.zip", u"Foo.zip"_s },
        { "inline", "https://x.test/releases/Foo-1.2.zip?sig=abc", u"Foo-1.2.zip"_s },
        { "", "https://x.test/files/Foo%20Bar.dmg", u"Foo Bar.dmg"_s },
        { "", "https://x.test/", u"download"_s },
        { "", "https://x.test", u"download"_s },
        // Names that would leave the work folder are cut to their last component.
        { "attachment; filename=\"../../etc/passwd\"", "https://x.test/", u"passwd"_s },
        { "attachment; filename=\"..\\\\..\\\\evil.zip\"", "https://x.test/", u"evil.zip"_s },
        { "attachment; filename=\"..\"", "https://x.test/Foo.zip", u"Foo.zip"_s },
        { "", "https://x.test/a/%2E%2E", u"download"_s },
        { "", "https://x.test/a/..%2F..%2Fescape.zip", u"escape.zip"_s },
        { "attachment; filename=\"a\tb\x01.zip\"", "https://x.test/", u"ab.zip"_s },
        { "attachment; filename=\"" + QByteArray(300, 'x') + "\"", "https://x.test/Foo.zip", u"Foo.zip"_s },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.disposition.toStdString() + " | " + row.url);
        EXPECT_EQ(
            Updater::suggestedFileName(row.disposition, QUrl(QString::fromLatin1(row.url))), row.expected);
    }
}

} // namespace
} // namespace corvanta
