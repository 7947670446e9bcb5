#pragma once

// The worlds the model, queue and panel tests build their Store on: a
// sandbox Applications folder, its settings file and a loopback server for
// every source, with App Store apps (AppStoreWorld) or Sparkle apps the real
// installer can update (SparkleWorld).

#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "model/Prefs.h"
#include "model/Store.h"
#include "platform/HostInfo.h"
#include "sources/Net.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/EdKey.h"
#include "support/MachOWriter.h"
#include "support/TestServer.h"
#include "support/Unsigned.h"
#include "support/ZipWriter.h"

#include <functional>
#include <map>
#include <memory>

#include <QCoro/QCoroTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace corvanta::test {

// The store's pauses (the wait for a quitting app, the "Updated" moment) made short.
inline QCoro::Task<> briefly()
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(1);
    co_await timer;
}

// Answers by script and keeps what it was asked and told.
class ScriptedPrompts : public Prompts {
public:
    QCoro::Task<bool> ask(Question question) override
    {
        asked << question;
        co_return answer;
    }
    void tell(Alert alert) override { told << alert; }

    bool answer = false;
    QList<Question> asked;
    QList<Alert> told;
};

// Points HOME somewhere else while it lives: an unsandboxed store then reads
// the test's folders as the user's own.
class HomeFolder {
public:
    explicit HomeFolder(const QString& path)
        : m_saved(qgetenv("HOME"))
    {
        qputenv("HOME", QFile::encodeName(path));
    }
    ~HomeFolder() { qputenv("HOME", m_saved); }
    HomeFolder(const HomeFolder&) = delete;
    HomeFolder& operator=(const HomeFolder&) = delete;

private:
    QByteArray m_saved;
};

// What every store world has: the folders, the settings and the server, with
// an empty cask index and an App Store that knows nothing.
class StoreWorldBase : public testing::Test {
protected:
    QTemporaryDir root;
    TestServer server;
    Net net;
    FixedHostInfo host { { 15, 0, 0 }, true };
    std::unique_ptr<Prefs> prefs;

    QString apps() const { return root.filePath(QStringLiteral("Applications")); }

    void SetUp() override
    {
        QDir().mkpath(apps());
        prefs = std::make_unique<Prefs>(
            std::make_unique<QSettings>(root.filePath(QStringLiteral("prefs.ini")), QSettings::IniFormat),
            Launch());
        server.on(QStringLiteral("/api/cask.json"), Response::json("[]"));
        server.onPrefix(QStringLiteral("/lookup"),
            [](const RecordedRequest&) { return Response::json(R"({"results":[]})"); });
    }

    QStringList sandbox() const
    {
        return { QStringLiteral("--sandbox"), apps(), QStringLiteral("--mock"), server.url().toString() };
    }
};

// App Store apps without code signatures; the App Store answers each bundle
// identifier with the version `storeVersions` gives it, once what `holds`
// names for it has come true.
class AppStoreWorld : public StoreWorldBase {
protected:
    test::Unsigned codeSigning;
    std::map<QString, QString> storeVersions;
    std::map<QString, std::function<bool()>> holds;

    void SetUp() override
    {
        StoreWorldBase::SetUp();
        server.onPrefix(QStringLiteral("/lookup"), [this](const RecordedRequest& request) {
            const QString id = request.query.queryItemValue(QStringLiteral("bundleId"));
            QJsonArray results;
            if (storeVersions.count(id)) {
                results.append(QJsonObject { { QStringLiteral("bundleId"), id },
                    { QStringLiteral("version"), storeVersions[id] },
                    { QStringLiteral("trackViewUrl"), QStringLiteral("https://apps.apple.com/app/id42") } });
            }
            Response response = Response::json(
                QJsonDocument(QJsonObject { { QStringLiteral("results"), results } }).toJson());
            if (holds.count(id))
                response.heldUntil = holds[id];
            return response;
        });
    }

    // "<name>.app" (com.example.<name>) at `version` in `folder`, else the
    // Applications folder; the App Store lists `offered` for it when given.
    QString install(const QString& name, const QString& version = QStringLiteral("1.0"),
        const QString& folder = {}, const QString& offered = {})
    {
        const QString id = QStringLiteral("com.example.") + name.toLower();
        const QString in = folder.isEmpty() ? apps() : folder;
        QDir(QDir(in).filePath(name + QStringLiteral(".app"))).removeRecursively();
        if (!offered.isEmpty())
            storeVersions[id] = offered;
        return BundleBuilder(in, name).bundleID(id).version(version).appStoreReceipt().create();
    }
};

// Ad-hoc signed apps with an EdDSA key whose Sparkle feeds offer 2.0 as a
// zip, dripped so that two downloads at once would overlap at the server.
class SparkleWorld : public StoreWorldBase {
protected:
    codesign::PortableCodeSigning codeSigning { codesign::TrustAnchors() };
    EdKey key;

    QString bundle(const QString& folder, const QString& name, const QString& version, const QString& build,
        const QUrl& feed) const
    {
        const QString path
            = BundleBuilder(folder, name)
                  .bundleID(QStringLiteral("com.example.") + name.toLower())
                  .version(version)
                  .build(build)
                  .edKey(key.publicKey())
                  .feedURL(feed.toString())
                  .executable(name, MachOWriter::executable(CpuType::ofThisBuild(), 20000, build.toUInt()))
                  .create();
        codesign::CodeSigner(codesign::SigningOptions {}).sign(path);
        return path;
    }

    // Installs `name` 1.0 into `folder` (the Applications folder unless
    // given) and serves 2.0 for it, its signature made over other bytes
    // when `forged`. Returns the installed bundle.
    QString offer(const QString& name, const QString& folder = {}, bool forged = false)
    {
        const QUrl feed = server.url(QStringLiteral("/%1/appcast.xml").arg(name));
        const QString installed = bundle(
            folder.isEmpty() ? apps() : folder, name, QStringLiteral("1.0"), QStringLiteral("1"), feed);
        const QString newer = bundle(
            root.filePath(QStringLiteral("new")), name, QStringLiteral("2.0"), QStringLiteral("2"), feed);
        const QString zip = root.filePath(name + QStringLiteral(".zip"));
        {
            ZipWriter writer(zip);
            writer.tree(newer, name + QStringLiteral(".app"));
        }
        QFile file(zip);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QString download = QStringLiteral("/%1/%1-2.0.zip").arg(name);
        server.on(download,
            Response { .body = bytes, .chunkSize = 8192, .chunkInterval = std::chrono::milliseconds(2) });
        const QString appcast
            = QStringLiteral(R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><item>
<sparkle:version>2</sparkle:version><sparkle:shortVersionString>2.0</sparkle:shortVersionString>
<enclosure url="%1" length="%2" sparkle:edSignature="%3"/>
</item></channel></rss>)")
                  .arg(download, QString::number(bytes.size()), key.sign(forged ? bytes + "!" : bytes));
        server.on(QStringLiteral("/%1/appcast.xml").arg(name),
            Response::text(appcast.toUtf8(), 200, "application/xml"));
        return installed;
    }
};

} // namespace corvanta::test
