#include "install/Updater.h"
#include "support/EdKey.h"

#include <cerrno>

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

const QString realworld = QStringLiteral(CORVANTA_REALWORLD);

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(data);
    return path;
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : data)
        c = char(generator.bounded(256));
    return data;
}

TEST(Sha256, MatchesKnownDigestsAcrossChunkBoundaries)
{
    QTemporaryDir dir;
    EXPECT_EQ(Updater::sha256(writeFile(dir, u"empty"_s, {})),
        u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_s);
    EXPECT_EQ(Updater::sha256(writeFile(dir, u"abc"_s, "abc")),
        u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s);
    EXPECT_EQ(Updater::sha256(realworld + u"/eddsa/sparkle-signed-test-file.txt"_s),
        u"03ba204e50d126e4674c005e04d82e84c21366780af1f43bd54a37816b6ab340"_s);
    // Sizes around the 1 MiB read size, where an off-by-one in the loop shows.
    for (qsizetype size : { (1 << 20) - 1, 1 << 20, (1 << 20) + 1, 3 * (1 << 20) + 17 }) {
        const QByteArray data = randomBytes(size, quint32(size));
        const QString digest = Updater::sha256(writeFile(dir, u"r%1"_s.arg(size), data));
        EXPECT_EQ(
            digest, QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()))
            << size;
    }
}

TEST(Sha256, RaisesTheFileSystemsError)
{
    QTemporaryDir dir;
    try {
        Updater::sha256(dir.filePath(u"missing"_s));
        FAIL() << "no error";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
    }
}

TEST(EdDSA, ChecksSparklesPublishedSignatures)
{
    const QString file = realworld + u"/eddsa/sparkle-signed-test-file.txt"_s;
    const QString key = u"rhHib+w769W2/6/t+oM1ZxgjBB93BfBKMLO0Qo1etQs="_s;
    EXPECT_EQ(
        Updater::checkEdDSA(key,
            u"EIawm2YkDZ2gBfkEMF2+1VuuTeXnCGZOdnMdVgPPvDZioq7bvDayXqKkIIzSjKMmeFdcFJOHdnba5ZV60+gPBw=="_s,
            file),
        Updater::EdDSA::valid);
    EXPECT_EQ(
        Updater::checkEdDSA(key,
            u"wTcpXCgWoa4NrJpsfzS61FXJIbv963//12U2ef9xstzVOLPHYK2N4/ojgpDV5N1/NGG1uWMBgK+kEWp0Z5zMDQ=="_s,
            file),
        Updater::EdDSA::mismatch);
}

TEST(EdDSA, RefusesAnyChangeToTheFileAndMalformedInput)
{
    QTemporaryDir dir;
    const test::EdKey pair;
    const QByteArray data = randomBytes(200'000, 7);
    const QString file = writeFile(dir, u"download.zip"_s, data);
    const QString signature = pair.sign(data);
    EXPECT_EQ(Updater::checkEdDSA(pair.publicKey(), signature, file), Updater::EdDSA::valid);

    QByteArray flipped = data;
    flipped[123'456] = char(flipped[123'456] ^ 0x01);
    EXPECT_EQ(Updater::checkEdDSA(pair.publicKey(), signature, writeFile(dir, u"flipped"_s, flipped)),
        Updater::EdDSA::mismatch);
    EXPECT_EQ(Updater::checkEdDSA(pair.publicKey(), signature, writeFile(dir, u"short"_s, data.chopped(1))),
        Updater::EdDSA::mismatch);
    EXPECT_EQ(Updater::checkEdDSA(test::EdKey().publicKey(), signature, file), Updater::EdDSA::mismatch);

    const QByteArray rawKey = QByteArray::fromBase64(pair.publicKey().toLatin1());
    struct Row {
        const char* name;
        QString key;
        QString signature;
    };
    const std::vector<Row> malformed {
        { "key not Base64", u"not base64!"_s, signature },
        { "signature not Base64", pair.publicKey(), u"%%%"_s },
        { "key of 31 bytes", QString::fromLatin1(rawKey.left(31).toBase64()), signature },
        { "key of 33 bytes", QString::fromLatin1(QByteArray(rawKey + 'x').toBase64()), signature },
        // A legacy DSA signature is not an Ed25519 signature of any file.
        { "DSA signature", pair.publicKey(),
            u"MCwCFCIHCiYvkeKOjSqWXsuIaFE+fk3BAhQXPx8dldkYt0U8+jz1MGiwjWqjcw=="_s },
    };
    for (const Row& row : malformed) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Updater::checkEdDSA(row.key, row.signature, file), Updater::EdDSA::malformed);
    }
    try {
        Updater::checkEdDSA(pair.publicKey(), signature, dir.filePath(u"missing"_s));
        FAIL() << "no error";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
    }
}

TEST(Format, IsToldByTheBytesNotTheName)
{
    QTemporaryDir dir;
    QByteArray image = randomBytes(4096, 3);
    image.replace(4096 - 512, 4, "koly");
    QByteArray tinyImage = QByteArray(512, 'x');
    tinyImage.replace(0, 4, "koly");
    QByteArray zipLooking = "PK\x03\x04" + randomBytes(100, 4);
    QByteArray shortKoly = QByteArray(100, 'x') + "koly";
    struct Row {
        QString name;
        QByteArray data;
        std::optional<Updater::Format> expected;
    };
    const std::vector<Row> rows {
        { u"App.zip"_s, zipLooking, Updater::Format::zip },
        { u"App.dmg"_s, zipLooking, Updater::Format::zip },
        { u"really-an-image.zip"_s, image, Updater::Format::diskImage },
        { u"exactly-512.dmg"_s, tinyImage, Updater::Format::diskImage },
        { u"koly-too-short.dmg"_s, shortKoly, std::nullopt },
        { u"empty.zip"_s, {}, std::nullopt },
        { u"three-bytes.zip"_s, "PK\x03", std::nullopt },
        { u"end-record-only.zip"_s, QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'), std::nullopt },
        { u"App.pkg"_s, "xar!" + randomBytes(2000, 5), std::nullopt },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.toStdString());
        EXPECT_EQ(Updater::format(writeFile(dir, row.name, row.data)), row.expected);
    }
}

} // namespace
} // namespace corvanta
