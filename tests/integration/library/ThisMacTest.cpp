#include "platform/ThisMac.h"

#include "support/QtPrinters.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

class ThisMacTest : public testing::Test {
protected:
    QString file(const QString& name, const QByteArray& content)
    {
        QFile out(folder.filePath(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(content);
        return out.fileName();
    }

    QTemporaryDir folder;
    QSettings defaults { folder.filePath(u"defaults.ini"_s), QSettings::IniFormat };
};

TEST_F(ThisMacTest, DeviceIDComesFromTheArgumentThenTheDefaultsThenIsMadeOnce)
{
    const ThisMac made(std::nullopt, defaults, {});
    EXPECT_TRUE(QRegularExpression(u"^d[0-9a-f]{32}$"_s).match(made.deviceID()).hasMatch())
        << made.deviceID().toStdString();
    EXPECT_EQ(
        QSettings(defaults.fileName(), QSettings::IniFormat).value(ThisMac::deviceIDKey), made.deviceID());
    EXPECT_EQ(ThisMac(std::nullopt, defaults, {}).deviceID(), made.deviceID());
    EXPECT_EQ(ThisMac(u"mac-a"_s, defaults, {}).deviceID(), u"mac-a"_s);
    EXPECT_EQ(defaults.value(ThisMac::deviceIDKey), made.deviceID());
}

TEST_F(ThisMacTest, NameModelAndHardwareFallBackInTurn)
{
    const QString uuid = file(u"product_uuid"_s, "4c4c4544-0042-3510-8051-b4c04f4e4d32\n");
    const QString machine = file(u"machine-id"_s, "0123456789abcdef0123456789abcdef\n");
    const QString blank = file(u"blank"_s, "\n");
    const QString missing = folder.filePath(u"missing"_s);
    const struct {
        const char* name;
        ThisMac::Sources sources;
        QString chosen;
        QString expectedName;
        QString model;
        QString hardware; // SHA-256 of "corvanta:" and the raw id
    } rows[] = {
        { "firmware", { file(u"product_name"_s, "Mac15,3\n"), uuid, machine, u"studio.local"_s },
            u"Ada's Mac"_s, u"Ada's Mac"_s, u"Mac15,3"_s,
            u"6481d6e00efdb9a7910f528a04200b75400b3fbc2586d05bf7a7bc82d41d5c58"_s },
        { "no firmware UUID", { missing, blank, machine, u"studio.local"_s }, u""_s, u"studio.local"_s, u""_s,
            u"71e695d9524de24f2a09a606a2f08871cd225472c242418eeef88c7cdca5cbc7"_s },
        { "nothing readable", { missing, missing, blank, u""_s }, u""_s, u"This Mac"_s, u""_s,
            u"e9e5156667e9280abac1b4aa638772c8ed945785b59c902aa9e377383c43e8f4"_s },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ThisMac mac(u"mac-a"_s, defaults, row.sources);
        EXPECT_EQ(mac.name(row.chosen), row.expectedName);
        EXPECT_EQ(mac.model(), row.model);
        EXPECT_EQ(mac.platformHardwareID(), row.hardware);
    }
}

} // namespace
