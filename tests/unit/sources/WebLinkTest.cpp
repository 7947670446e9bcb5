#include "sources/WebLink.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

struct LinkRow {
    std::optional<QString> text;
    std::optional<QString> base;
    std::optional<QString> web; // expected WebLink::web
    std::optional<QString> store; // expected WebLink::store (without base)
};

std::ostream& operator<<(std::ostream& os, const LinkRow& row)
{
    return os << (row.text ? row.text->toStdString() : "<none>") << " @ "
              << (row.base ? row.base->toStdString() : "<none>");
}

class WebLinks : public testing::TestWithParam<LinkRow> { };

std::optional<QString> text(const std::optional<QUrl>& url)
{
    return url ? std::optional(url->toString()) : std::nullopt;
}

TEST_P(WebLinks, AcceptOnlyTheirSchemes)
{
    const LinkRow& row = GetParam();
    const std::optional<QUrl> base = row.base ? std::optional(QUrl(*row.base)) : std::nullopt;
    EXPECT_EQ(text(WebLink::web(row.text, base)), row.web);
    if (!row.base) {
        EXPECT_EQ(text(WebLink::store(row.text)), row.store);
    }
}

const QString feed = u"https://example.com/app/appcast.xml"_s;

INSTANTIATE_TEST_SUITE_P(Table, WebLinks,
    testing::Values(LinkRow { std::nullopt, std::nullopt, std::nullopt, std::nullopt },
        LinkRow { std::nullopt, feed, std::nullopt, std::nullopt },
        LinkRow { u""_s, feed, std::nullopt, std::nullopt },
        LinkRow { u"https://example.com/notes"_s, std::nullopt, u"https://example.com/notes"_s,
            u"https://example.com/notes"_s },
        // The scheme is compared in lower case.
        LinkRow {
            u"HTTP://example.com/a"_s, std::nullopt, u"http://example.com/a"_s, u"http://example.com/a"_s },
        LinkRow { u"notes/1.2.html"_s, feed, u"https://example.com/app/notes/1.2.html"_s, std::nullopt },
        LinkRow { u"/notes.html"_s, feed, u"https://example.com/notes.html"_s, std::nullopt },
        // A relative link without a base has no scheme and is refused.
        LinkRow { u"notes.html"_s, std::nullopt, std::nullopt, std::nullopt },
        // An absolute link ignores the base.
        LinkRow { u"http://other.example/x"_s, feed, u"http://other.example/x"_s, std::nullopt },
        LinkRow { u"javascript:alert(1)"_s, std::nullopt, std::nullopt, std::nullopt },
        LinkRow { u"javascript:alert(1)"_s, feed, std::nullopt, std::nullopt },
        LinkRow { u"file:///etc/passwd"_s, std::nullopt, std::nullopt, std::nullopt },
        LinkRow { u"ftp://example.com/a"_s, std::nullopt, std::nullopt, std::nullopt },
        LinkRow { u"macappstore://apps.apple.com/app/id1"_s, std::nullopt, std::nullopt,
            u"macappstore://apps.apple.com/app/id1"_s },
        LinkRow { u"ITMS-APPS://itunes.apple.com/app/id2"_s, std::nullopt, std::nullopt,
            u"itms-apps://itunes.apple.com/app/id2"_s }));

} // namespace
