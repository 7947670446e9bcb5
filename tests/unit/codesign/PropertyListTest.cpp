#include "codesign/PropertyList.h"

#include "Printers.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>
#include <sys/stat.h>

using corvanta::PropertyList;
using namespace Qt::StringLiterals;

namespace {

const QString realworld = QStringLiteral(CORVANTA_REALWORLD "/plist/");

QByteArray xmlPlist(const QByteArray& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body
        + "\n</dict>\n</plist>\n";
}

struct TextRow {
    const char* name;
    QVariant value; // invalid: the key is absent
    std::optional<QString> text;
};

std::ostream& operator<<(std::ostream& os, const TextRow& row)
{
    return os << row.name;
}

class PropertyText : public testing::TestWithParam<std::tuple<TextRow, PropertyList::Format>> { };

TEST_P(PropertyText, FollowsTheTextRule)
{
    const auto& [row, format] = GetParam();
    QVariantMap map { { u"Other"_s, u"x"_s } };
    if (row.value.isValid())
        map.insert(u"Key"_s, row.value);
    const std::optional<PropertyList> list = PropertyList::fromData(PropertyList::serialize(map, format));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->format(), format);
    EXPECT_EQ(list->text(u"Key"_s), row.text);
}

INSTANTIATE_TEST_SUITE_P(Table, PropertyText,
    testing::Combine(
        testing::Values(TextRow { "string", u"2.1.0"_s, u"2.1.0"_s },
            TextRow { "padded", u" \t2.1 beta \t"_s, u"2.1 beta"_s },
            TextRow { "inner spaces kept", u"1.9.0 git-695e05e"_s, u"1.9.0 git-695e05e"_s },
            TextRow { "only blanks", u"  \t "_s, std::nullopt }, TextRow { "empty", u""_s, std::nullopt },
            // Only spaces and tabs are trimmed, never line breaks.
            TextRow { "newline kept", u"1.0\n"_s, u"1.0\n"_s },
            TextRow { "integer", QVariant::fromValue(qint64(183)), u"183"_s },
            TextRow { "zero", QVariant::fromValue(qint64(0)), u"0"_s },
            TextRow { "negative", QVariant::fromValue(qint64(-5)), u"-5"_s },
            TextRow { "largest signed", QVariant::fromValue(qint64(INT64_MAX)), u"9223372036854775807"_s },
            TextRow { "past the signed range", QVariant::fromValue(quint64(UINT64_MAX)),
                u"18446744073709551615"_s },
            TextRow { "real", 1.5, u"1.5"_s }, TextRow { "whole real", 2.0, u"2"_s },
            TextRow { "shortest real", 1.1, u"1.1"_s }, TextRow { "true", true, u"1"_s },
            TextRow { "false", false, u"0"_s },
            TextRow { "date", QDateTime(QDate(2020, 1, 1), QTime(0, 0), QTimeZone::utc()), std::nullopt },
            TextRow { "data", QByteArray("1.0"), std::nullopt },
            TextRow { "array", QVariantList { u"1.0"_s }, std::nullopt },
            TextRow { "dictionary", QVariantMap { { u"a"_s, u"1"_s } }, std::nullopt },
            TextRow { "absent", QVariant(), std::nullopt }),
        testing::Values(PropertyList::Format::xml, PropertyList::Format::binary)));

TEST(PropertyList, StringTakesOnlyStringsAsTheyAre)
{
    const std::optional<PropertyList> list = PropertyList::fromData(PropertyList::serialize(
        { { u"Padded"_s, u"  com.acme.app "_s }, { u"Number"_s, 42 } }, PropertyList::Format::binary));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->string(u"Padded"_s), u"  com.acme.app "_s);
    EXPECT_EQ(list->string(u"Number"_s), std::nullopt);
    EXPECT_EQ(list->string(u"Missing"_s), std::nullopt);
}

TEST(PropertyList, RoundTripsEveryTypeInBothForms)
{
    const QVariantMap map {
        { u"String"_s, u"Grüße 👋"_s },
        { u"Integer"_s, QVariant::fromValue(qint64(-42)) },
        { u"Real"_s, 0.25 },
        { u"Bool"_s, true },
        { u"Date"_s, QDateTime(QDate(2024, 2, 29), QTime(12, 30, 15), QTimeZone::utc()) },
        { u"Data"_s, QByteArray("\x00\x01\xff", 3) },
        { u"Array"_s, QVariantList { QVariant::fromValue(qint64(1)), u"two"_s } },
        { u"Dict"_s, QVariantMap { { u"Nested"_s, false } } },
    };
    for (PropertyList::Format format : { PropertyList::Format::xml, PropertyList::Format::binary }) {
        const std::optional<PropertyList> list = PropertyList::fromData(PropertyList::serialize(map, format));
        ASSERT_TRUE(list);
        EXPECT_EQ(list->toMap(), map);
        QStringList keys = list->keys();
        keys.sort();
        QStringList expected = map.keys();
        expected.sort();
        EXPECT_EQ(keys, expected);
        EXPECT_TRUE(list->contains(u"Dict"_s));
        EXPECT_FALSE(list->value(u"Missing"_s).isValid());
    }
}

TEST(PropertyList, ReadsRealInfoPlists)
{
    struct Row {
        const char* file;
        PropertyList::Format format;
        QString identifier;
        std::optional<QString> version;
        std::optional<QString> build;
    };
    const Row rows[] = {
        { "gplist-FooApp-iOS-Info.binary.plist", PropertyList::Format::binary, u"com.guying.app.foo"_s,
            u"1.0"_s, u"1"_s },
        { "sparkle-DevSignedApp-Info.plist", PropertyList::Format::xml, u"com.zoo.SignedApp"_s, u"1.0"_s,
            u"1"_s },
        { "sparkle-SparkleTestCodeSignApp-Info.plist", PropertyList::Format::xml,
            u"org.sparkle-project.SparkleTestApp"_s, std::nullopt, u"1.5"_s },
        { "sparkle-1.9-framework-Info.plist", PropertyList::Format::xml, u"org.andymatuschak.Sparkle"_s,
            u"1.9.0 git-695e05e"_s, u"1.9.0"_s },
        { "sparkle2-Updater.app-Info.plist", PropertyList::Format::xml,
            u"org.sparkle-project.Sparkle.Updater"_s, u"2.9.1"_s, u"2054"_s },
        { "macvim-source-Info.plist", PropertyList::Format::xml, u"$(PRODUCT_BUNDLE_IDENTIFIER)"_s,
            u"${VIM_SHORT_VERSION_STRING}"_s, u"183"_s },
        { "santa-BundleExample.app-Info.plist", PropertyList::Format::xml,
            u"com.google.santa.BundleExample"_s, u"1.0"_s, u"1"_s },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const std::optional<PropertyList> list = PropertyList::load(realworld + QLatin1StringView(row.file));
        ASSERT_TRUE(list);
        EXPECT_EQ(list->format(), row.format);
        EXPECT_EQ(list->string(u"CFBundleIdentifier"_s), row.identifier);
        EXPECT_EQ(list->text(u"CFBundleShortVersionString"_s), row.version);
        EXPECT_EQ(list->text(u"CFBundleVersion"_s), row.build);
    }
}

TEST(PropertyList, BinaryRealWorldValuesConvert)
{
    const std::optional<PropertyList> list
        = PropertyList::load(realworld + u"gplist-FooApp-iOS-Info.binary.plist"_s);
    ASSERT_TRUE(list);
    const QVariantList families = list->value(u"UIDeviceFamily"_s).toList();
    ASSERT_EQ(families.size(), 2);
    EXPECT_EQ(families[0].toLongLong(), 1);
    EXPECT_EQ(families[1].toLongLong(), 2);
    // The whole dictionary converts, nested values and UTF-16 strings included.
    const QVariantMap map = list->toMap();
    EXPECT_EQ(map.size(), list->keys().size());
    EXPECT_FALSE(map.isEmpty());
}

// fromData wants a dictionary; parse takes any root, as a CMS attribute's list has.
TEST(PropertyList, RefusesWhatIsNotADictionary)
{
    const std::pair<QByteArray, QVariant> rows[] = {
        { QByteArray(), QVariant() },
        { QByteArray("hello"), QVariant() },
        { QByteArray("bplist00garbage"), QVariant() },
        { QByteArray(
              "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string></array></plist>"),
            QVariantList { u"a"_s } },
        { QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><string>a</string></plist>"), u"a"_s },
        { QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key><string>b</string>"),
            QVariant() },
    };
    for (const auto& [data, parsed] : rows) {
        SCOPED_TRACE(data.toStdString());
        EXPECT_FALSE(PropertyList::fromData(data));
        EXPECT_EQ(PropertyList::parse(data).value_or(QVariant()), parsed);
    }
    const std::optional<PropertyList> empty = PropertyList::fromData(xmlPlist(""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
}

// A binary property list by hand: object 0 is the root dictionary {"a": object 2},
// object 1 the key, and `objects` follow from index 2.
QByteArray binaryPlist(const std::vector<QByteArray>& objects)
{
    std::vector<QByteArray> all { QByteArray("\xD1\x00\x01\x00\x02", 5),
        QByteArray("\x51"
                   "a",
            2) };
    all.insert(all.end(), objects.begin(), objects.end());
    QByteArray data("bplist00");
    std::vector<quint32> offsets;
    for (const QByteArray& object : all) {
        offsets.push_back(quint32(data.size()));
        data += object;
    }
    const quint64 table = quint64(data.size());
    for (quint32 offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8)
            data += char((offset >> shift) & 0xFF);
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 4; // offset size
    trailer[7] = 2; // reference size
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = char((quint64(all.size()) >> (56 - 8 * i)) & 0xFF);
        trailer[24 + i] = char((table >> (56 - 8 * i)) & 0xFF);
    }
    return data + trailer;
}

QByteArray arrayOf(std::initializer_list<quint16> refs)
{
    QByteArray object(1, char(0xA0 | refs.size()));
    for (quint16 ref : refs) {
        object += char(ref >> 8);
        object += char(ref & 0xFF);
    }
    return object;
}

TEST(PropertyList, HandMadeBinaryListReads)
{
    const std::optional<PropertyList> list = PropertyList::fromData(binaryPlist({ arrayOf({}) }));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->value(u"a"_s), QVariantList());
}

// Each of these would overflow the stack or exhaust memory inside libplist,
// through either entry (resource seals and CMS attributes come from downloads).
TEST(PropertyList, RefusesHostileNesting)
{
    const auto refused
        = [](const QByteArray& data) { return !PropertyList::fromData(data) && !PropertyList::parse(data); };
    {
        SCOPED_TRACE("XML nested 100000 deep");
        const QByteArray deep
            = QByteArray("<array>").repeated(100'000) + QByteArray("</array>").repeated(100'000);
        EXPECT_TRUE(refused(xmlPlist("<key>a</key>" + deep)));
    }
    {
        SCOPED_TRACE("binary nested 60000 deep");
        std::vector<QByteArray> objects;
        for (quint16 i = 0; i < 60'000; ++i)
            objects.push_back(i + 1 < 60'000 ? arrayOf({ quint16(i + 3) }) : arrayOf({}));
        EXPECT_TRUE(refused(binaryPlist(objects)));
    }
    {
        SCOPED_TRACE("binary, each level referring twice to the next");
        std::vector<QByteArray> objects;
        for (quint16 i = 0; i < 40; ++i)
            objects.push_back(i + 1 < 40 ? arrayOf({ quint16(i + 3), quint16(i + 3) }) : arrayOf({}));
        EXPECT_TRUE(refused(binaryPlist(objects)));
    }
    {
        SCOPED_TRACE("binary cycle");
        EXPECT_TRUE(refused(binaryPlist({ arrayOf({ 2 }) })));
    }
    {
        SCOPED_TRACE("binary reference past the objects");
        EXPECT_TRUE(refused(binaryPlist({ arrayOf({ 9 }) })));
    }
    // Ordinary nesting and shared values still read.
    {
        const QByteArray shallow = QByteArray("<array>").repeated(50) + QByteArray("</array>").repeated(50);
        EXPECT_TRUE(PropertyList::fromData(xmlPlist("<key>a</key>" + shallow)));
        std::vector<QByteArray> objects;
        for (quint16 i = 0; i < 10; ++i)
            objects.push_back(i + 1 < 10 ? arrayOf({ quint16(i + 3), quint16(i + 3) }) : arrayOf({}));
        EXPECT_TRUE(PropertyList::fromData(binaryPlist(objects)));
    }
}

TEST(PropertyList, LoadRefusesWhatIsNotARegularFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_FALSE(PropertyList::load(dir.filePath(u"missing.plist"_s)));
    EXPECT_FALSE(PropertyList::load(dir.path()));
    // A FIFO would block the reader forever.
    const QString fifo = dir.filePath(u"fifo.plist"_s);
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(PropertyList::load(fifo));
    // Past the size limit, even when well formed.
    const QString big = dir.filePath(u"big.plist"_s);
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray padding = QByteArray("<!-- ") + QByteArray(PropertyList::maxFileSize, 'x') + " -->";
    const QByteArray bytes = xmlPlist("<key>a</key><string>b</string>" + padding);
    file.write(bytes);
    file.close();
    EXPECT_FALSE(PropertyList::load(big));
    // A large app's resource seal is that big; parse takes it, up to its own limit.
    EXPECT_TRUE(PropertyList::parse(bytes));
    EXPECT_FALSE(PropertyList::parse(xmlPlist(QByteArray(PropertyList::maxParseSize, ' '))));
}

} // namespace
