#include "discovery/Version.h"

#include <vector>

#include <gtest/gtest.h>

using corvanta::Version;
using namespace Qt::StringLiterals;

namespace {

struct ParseRow {
    QString text;
    std::vector<std::int64_t> parts; // empty: no version
    std::optional<QString> pre;
};

std::ostream& operator<<(std::ostream& os, const ParseRow& row)
{
    return os << row.text.toStdString();
}

class VersionParse : public testing::TestWithParam<ParseRow> { };

TEST_P(VersionParse, ReadsPartsAndTag)
{
    const ParseRow& row = GetParam();
    const std::optional<Version> version = Version::parse(row.text);
    if (row.parts.empty()) {
        EXPECT_FALSE(version.has_value());
        return;
    }
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->parts(), row.parts);
    EXPECT_EQ(version->pre(), row.pre);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionParse,
    testing::Values(ParseRow { u"v2.1.0"_s, { 2, 1, 0 }, {} }, ParseRow { u"V3"_s, { 3 }, {} },
        ParseRow { u"  1.2\t"_s, { 1, 2 }, {} }, ParseRow { u"1..2"_s, { 1, 2 }, {} },
        ParseRow { u"1.2."_s, { 1, 2 }, {} }, ParseRow { u".5"_s, { 5 }, {} },
        ParseRow { u"1.0 (123)"_s, { 1, 0 }, {} }, ParseRow { u"1.0-developer"_s, { 1, 0 }, u"developer"_s },
        ParseRow { u"2.0-beta.10"_s, { 2, 0 }, u"beta.10"_s }, ParseRow { u"2.0b3"_s, { 2, 0 }, u"b3"_s },
        ParseRow { u"2.0RC1"_s, { 2, 0 }, u"rc1"_s }, ParseRow { u"1.0a"_s, { 1, 0 }, {} },
        ParseRow { u"2.1.0-hotfix"_s, { 2, 1, 0 }, {} }, ParseRow { u"1.0-release"_s, { 1, 0 }, {} },
        ParseRow { u"1.9.0 git-695e05e"_s, { 1, 9, 0 }, {} }, ParseRow { u"1.x"_s, { 1 }, {} },
        ParseRow { u"3.0_prerelease"_s, { 3, 0 }, u"prerelease"_s },
        ParseRow { u"9223372036854775807"_s, { INT64_MAX }, {} },
        // Too large for 64 bits: the whole text is unreadable.
        ParseRow { u"1.99999999999999999999"_s, {}, {} }, ParseRow { u"9223372036854775808"_s, {}, {} },
        ParseRow { u"beta"_s, {}, {} }, ParseRow { u"v"_s, {}, {} }, ParseRow { u""_s, {}, {} },
        ParseRow { u"   "_s, {}, {} },
        // Arabic-Indic digits belong to the numeric prefix but are not ASCII decimals.
        ParseRow { u"1.\u0663"_s, {}, {} },
        // A fullwidth digit after a valid piece still poisons the prefix.
        ParseRow { u"2.\uFF11"_s, {}, {} }));

TEST(Version, AbsentTextIsNoVersion)
{
    EXPECT_FALSE(Version::parse(std::nullopt).has_value());
}

TEST(Version, DescriptionKeepsThePrefixButNotTheSpaces)
{
    EXPECT_EQ(Version::parse(u" v2.1.0 "_s)->description(), u"v2.1.0"_s);
}

struct OrderRow {
    QString smaller;
    QString larger;
};

class VersionOrder : public testing::TestWithParam<OrderRow> { };

TEST_P(VersionOrder, RanksAsPeopleExpect)
{
    const auto a = Version::parse(GetParam().smaller);
    const auto b = Version::parse(GetParam().larger);
    ASSERT_TRUE(a && b);
    EXPECT_LT(*a, *b);
    EXPECT_GT(*b, *a);
    EXPECT_NE(*a, *b);
}

INSTANTIATE_TEST_SUITE_P(Table, VersionOrder,
    testing::Values(OrderRow { u"1.2"_s, u"1.2.0.1"_s }, OrderRow { u"2.0-beta"_s, u"2.0"_s },
        OrderRow { u"2.0b3"_s, u"2.0"_s }, OrderRow { u"2.0beta4"_s, u"2.0rc1"_s },
        OrderRow { u"2.0-beta.2"_s, u"2.0-beta.10"_s }, OrderRow { u"1.0-developer"_s, u"1.0"_s },
        OrderRow { u"1.9"_s, u"1.10"_s }, OrderRow { u"2.0-alpha"_s, u"2.0-beta"_s },
        OrderRow { u"1.0a1"_s, u"1.0b1"_s }));

TEST(Version, EqualityFollowsTheNumbersNotTheText)
{
    EXPECT_EQ(*Version::parse(u"1.2"_s), *Version::parse(u"1.2.0"_s));
    EXPECT_EQ(*Version::parse(u"1.10"_s), *Version::parse(u"v1.10.0"_s));
    EXPECT_EQ(*Version::parse(u"1.0 (123)"_s), *Version::parse(u"1.0"_s));
    EXPECT_EQ(*Version::parse(u"1.9.0 git-695e05e"_s), *Version::parse(u"1.9"_s));
    EXPECT_EQ(*Version::parse(u"2.0-beta.02"_s), *Version::parse(u"2.0-beta.2"_s));
}

struct NewerRow {
    std::optional<QString> installedShort, installedBuild, latestShort, latestBuild;
    std::optional<bool> expected;
};

class VersionIsNewer : public testing::TestWithParam<NewerRow> { };

TEST_P(VersionIsNewer, Decides)
{
    const NewerRow& row = GetParam();
    EXPECT_EQ(
        Version::isNewer({ row.installedShort, row.installedBuild }, { row.latestShort, row.latestBuild }),
        row.expected);
}

const std::optional<QString> none;
const std::optional<bool> undecided;

INSTANTIATE_TEST_SUITE_P(Table, VersionIsNewer,
    testing::Values(
        // Build counters and dotted versions are different kinds.
        NewerRow { u"2023"_s, none, u"2.1"_s, none, undecided },
        NewerRow { u"5"_s, none, u"5.1"_s, none, true }, NewerRow { u"2023"_s, none, u"2024"_s, none, true },
        NewerRow { u"999"_s, none, u"1000.1"_s, none, true },
        // Equal short versions hand over to the builds, without a kind check.
        NewerRow { u"1.4"_s, u"140"_s, u"1.4"_s, u"141"_s, true },
        NewerRow { u"1.4"_s, u"140"_s, u"1.4"_s, none, false },
        NewerRow { u"1.4"_s, u"140"_s, u"1.5"_s, none, true },
        NewerRow { u"1.4"_s, u"2000"_s, u"1.4"_s, u"1.9.1"_s, false },
        NewerRow { u"1.4"_s, u"140"_s, u"1.4.0"_s, u"140"_s, false },
        // Only builds readable.
        NewerRow { none, u"88"_s, none, u"90"_s, true }, NewerRow { u"abc"_s, u"88"_s, none, u"90"_s, true },
        NewerRow { none, u"4000"_s, none, u"4.0"_s, undecided },
        // The first present text decides; an unreadable one leaves it open.
        NewerRow { u"abc"_s, none, u"2.0"_s, none, undecided },
        NewerRow { none, u"12"_s, u"13"_s, none, true }, NewerRow { none, none, u"1.0"_s, none, undecided },
        NewerRow { u"v2.1.0"_s, none, u"2.1.1"_s, none, true },
        NewerRow { u"2.1.0"_s, none, u"v2.1.0"_s, none, false },
        NewerRow { u"2.0"_s, none, u"2.0-rc1"_s, none, false },
        NewerRow { u"1.9.0 git-695e05e"_s, none, u"1.9.0"_s, none, false }));

} // namespace
