#include "ServedWorld.h"
#include "base/Error.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/PropertyList.h"
#include "demo/WorldBuilder.h"
#include "discovery/Scanner.h"
#include "support/Await.h"
#include "support/QtPrinters.h"

#include <algorithm>
#include <iostream>

#include <QDirIterator>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace corvanta::demo;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

class DemoWorld : public testing::Test {
protected:
    static void SetUpTestSuite() { world = new ServedWorld(); }
    static void TearDownTestSuite()
    {
        std::cout << "[ demo ] made the world in " << world->milliseconds << " ms\n";
        delete world;
        world = nullptr;
    }

    static QString infoValue(const QString& bundle, const QString& key)
    {
        const auto list = PropertyList::load(bundle + u"/Contents/Info.plist"_s);
        return list ? list->string(key).value_or(QString()) : QString();
    }

    static ServedWorld* world;
};

ServedWorld* DemoWorld::world = nullptr;

// Every address the world writes is its server's, or a public page nothing
// fetches (home pages, store pages, XML namespaces); every file it names is served.
TEST_F(DemoWorld, EveryAddressLeadsToItsServer)
{
    const QString base = world->manifest.base.toString();
    const QSet<QString> publicHosts { u"github.com"_s, u"apps.apple.com"_s, u"www.andymatuschak.org"_s,
        u"purl.org"_s, u"www.apple.com"_s };
    const QRegularExpression address(uR"(https?://[^\s"'<>]+)"_s);
    QSet<QString> served;
    int documents = 0;
    for (const QString& folder : { world->layout.documents(), world->layout.applications() }) {
        QDirIterator walk(folder, QDir::Files, QDirIterator::Subdirectories);
        while (walk.hasNext()) {
            const QString path = walk.next();
            const QString suffix = QFileInfo(path).suffix();
            if (!QStringList { u"xml"_s, u"json"_s, u"yml"_s, u"html"_s, u"plist"_s }.contains(suffix))
                continue;
            ++documents;
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(file.readAll());
            for (const QRegularExpressionMatch& match : address.globalMatch(text)) {
                const QString url = match.captured();
                if (url.startsWith(base)) {
                    served.insert(url);
                    continue;
                }
                const QString host = QUrl(url).host();
                EXPECT_TRUE(publicHosts.contains(host) || host.endsWith(u".example"_s))
                    << url.toStdString() << " in " << path.toStdString();
            }
        }
    }
    // Every app's Info.plist at least.
    EXPECT_GE(documents, qsizetype(world->manifest.apps.size()));

    QNetworkAccessManager network;
    int files = 0;
    for (const QString& url : served) {
        if (QFileInfo(QUrl(url).path()).suffix().isEmpty())
            continue; // a base for paths, such as the Electron app's generic feed
        ++files;
        QNetworkReply* reply = network.head(QNetworkRequest(QUrl(url)));
        ASSERT_TRUE(waitUntil([&] { return reply->isFinished(); }));
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // The one deliberately missing document: Kiln's moved feed.
        EXPECT_EQ(status, url.endsWith(u"/feeds/kiln/appcast.xml"_s) ? 404 : 200) << url.toStdString();
        reply->deleteLater();
    }
    // A download at least for every update the world offers.
    EXPECT_GE(files,
        std::count_if(world->manifest.apps.begin(), world->manifest.apps.end(),
            [](const SampleApp& app) { return app.update.has_value(); }));
}

TEST_F(DemoWorld, ManifestReadsBackAsWritten)
{
    const Manifest read = Manifest::load(world->layout.manifest());
    EXPECT_EQ(read.toJson(), world->manifest.toJson());
    EXPECT_EQ(read.base, world->server->base());
    EXPECT_TRUE(read.signedCode);
    EXPECT_EQ(codesign::TrustAnchors::fromFolder(world->layout.anchors()).certificates(),
        QList<QByteArray> { world->signer.authority().rootDer() });
    EXPECT_EQ(read.macOS, (SystemVersion { 15, 0, 0 }));

    QJsonObject broken = world->manifest.toJson();
    broken.remove(u"base"_s);
    EXPECT_THROW(Manifest::fromJson(broken), Error);
    QJsonObject unknownOutcome = world->manifest.toJson();
    QJsonArray apps = unknownOutcome[u"apps"_s].toArray();
    QJsonObject first = apps[0].toObject();
    first[u"update"_s] = QJsonObject { { u"outcome"_s, u"maybe"_s } };
    apps[0] = first;
    unknownOutcome[u"apps"_s] = apps;
    EXPECT_THROW(Manifest::fromJson(unknownOutcome), Error);
    EXPECT_THROW(Manifest::load(world->folder.filePath(u"nothing.json"_s)), Error);
}

// Making a world again gives new keys and leaves what isn't the world's alone.
TEST_F(DemoWorld, MakingAgainReplacesTheWorldWithFreshKeys)
{
    QTemporaryDir folder;
    const QString root = folder.filePath(u"again"_s);
    const QUrl base(u"http://127.0.0.1:9/"_s);
    makeWorld(root, base, nullptr);
    const WorldLayout layout { root };
    const QString harbor = layout.applications() + u"/Harbor.app"_s;
    const QString firstKey = infoValue(harbor, u"SUPublicEDKey"_s);
    const auto payload = [&] {
        QFile file(harbor + u"/Contents/Resources/Assets.car"_s);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray firstPayload = payload();
    QFile(layout.applications() + u"/Stray.app"_s).open(QIODevice::WriteOnly);
    QFile(root + u"/Notes.txt"_s).open(QIODevice::WriteOnly);

    const Manifest again = makeWorld(root, base, nullptr);
    EXPECT_EQ(again.apps.size(), world->manifest.apps.size());
    const QString secondKey = infoValue(harbor, u"SUPublicEDKey"_s);
    EXPECT_EQ(QByteArray::fromBase64(secondKey.toLatin1()).size(), 32);
    EXPECT_NE(secondKey, firstKey);
    // Keys and signatures are new; the apps' contents are the same every time.
    EXPECT_FALSE(firstPayload.isEmpty());
    EXPECT_EQ(payload(), firstPayload);
    EXPECT_FALSE(QFileInfo::exists(layout.applications() + u"/Stray.app"_s));
    EXPECT_TRUE(QFileInfo::exists(root + u"/Notes.txt"_s));
    EXPECT_FALSE(QFileInfo::exists(root + u"/.staging"_s));
    for (const QString& entry : QDir(root).entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot))
        EXPECT_FALSE(entry.startsWith(u".staging"_s)) << "the staging folder is removed";
}

TEST_F(DemoWorld, RefusesFoldersThatHoldSomethingElse)
{
    QTemporaryDir folder;
    QFile(folder.filePath(u"Thesis.pages"_s)).open(QIODevice::WriteOnly);
    try {
        makeWorld(folder.path(), QUrl(u"http://127.0.0.1:9/"_s), nullptr);
        FAIL() << "a folder of someone's files was used";
    } catch (const Error& error) {
        EXPECT_EQ(error.description(),
            folder.path() + u" isn't empty and holds no demo world; choose an empty or new folder."_s);
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { u"Thesis.pages"_s });
    EXPECT_THROW(makeWorld(folder.filePath(u"x"_s), QUrl(u"ftp://127.0.0.1/"_s), nullptr), Error);
}

} // namespace
