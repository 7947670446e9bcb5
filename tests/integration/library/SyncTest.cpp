#include "LibraryWorld.h"
#include "support/QtPrinters.h"

using namespace corvanta;
using namespace corvanta::test;
using namespace Qt::StringLiterals;

namespace {

const QString atFixedNow = u"2027-01-15T08:00:00Z"_s;

Release release(SourceKind kind, std::optional<QString> ref = {}, std::optional<QUrl> notes = {})
{
    return { .kind = kind, .notesURL = notes, .ref = ref };
}

class SyncTest : public EmulatedLibrary {
protected:
    void SetUp() override
    {
        EmulatedLibrary::SetUp();
        cloud = signUp(u"ada@example.com"_s);
    }

    // Syncs as `device` against the library as it now stands; the number of writes.
    int sync(const QString& device, std::vector<Cloud::Installed> apps, const QDateTime& at,
        std::vector<LibraryApp> extra = {})
    {
        std::vector<LibraryApp> library = await(cloud.apps(net));
        library.insert(library.end(), extra.begin(), extra.end());
        const Device mac { device, u"Studio"_s, u"Mac15,3"_s, at, u"hash-of-"_s + device };
        return await(cloud.sync(net, mac, std::move(apps), std::move(library)));
    }

    static QJsonObject onDevice(const QString& version, bool installed, const QString& seen)
    {
        return { { u"version"_s, version }, { u"installed"_s, installed }, { u"seen"_s, seen } };
    }

    Cloud cloud;
};

TEST_F(SyncTest, FirstSyncWritesWhatEachAppIsKnownBy)
{
    const QString store = u"https://apps.apple.com/app/id409183694"_s;
    const std::vector<Cloud::Installed> apps {
        { { .name = u"Safari"_s, .bundleID = u"com.apple.Safari"_s, .version = u"18.0"_s }, std::nullopt },
        { { .name = u"Keynote"_s,
              .bundleID = u"com.apple.Keynote"_s,
              .version = u"14.0"_s,
              .isAppStore = true },
            Release { .kind = SourceKind::appStore, .storeURL = QUrl(store) } },
        { { .name = u"Slash"_s, .bundleID = u"com.example/slash"_s }, std::nullopt },
        { { .name = u"Dots"_s, .bundleID = u".."_s }, std::nullopt },
        { { .name = u"Reserved"_s, .bundleID = u"__reserved__"_s }, std::nullopt },
        { { .name = u"Long"_s, .bundleID = QString(1501, u'a') }, std::nullopt },
        { { .name = u"Bare"_s, .bundleID = u"com.example.bare"_s }, std::nullopt },
        { { .name = u"Built"_s, .bundleID = u"com.example.built"_s, .build = u"42"_s }, std::nullopt },
        { { .name = u"Brewed"_s, .bundleID = u"com.example.brewed"_s, .version = u"3"_s, .team = u"TEAM1"_s },
            release(SourceKind::homebrew, u"brewed"_s, QUrl(u"https://brewed.example/"_s)) },
        { { .name = u"Sparkly"_s,
              .bundleID = u"com.example.sparkly"_s,
              .version = u"2"_s,
              .feedURL = QUrl(u"https://own.example/appcast.xml"_s),
              .edKey = u"KEY="_s },
            release(SourceKind::sparkle, u"https://release.example/appcast.xml"_s,
                QUrl(u"https://notes.example/"_s)) },
        { { .name = u"Hubbed"_s, .bundleID = u"com.example.hubbed"_s, .version = u"5"_s },
            release(SourceKind::github, u"owner/hubbed"_s) },
        { { .name = u"Electrified"_s, .bundleID = u"com.example.electrified"_s, .version = u"6"_s },
            release(SourceKind::electron, u"https://electrified.example/latest-mac.yml"_s) },
    };
    EXPECT_EQ(sync(u"d1"_s, apps, fixedNow), 8);

    const auto app = [&](QJsonObject fields, const QString& version) {
        fields.insert(u"devices"_s, QJsonObject { { u"d1"_s, onDevice(version, true, atFixedNow) } });
        return fields;
    };
    const std::map<QString, QJsonObject> expected {
        { u"com.apple.Keynote"_s,
            app({ { u"name"_s, u"Keynote"_s }, { u"source"_s, u"Mac App Store"_s },
                    { u"storeURL"_s, store } },
                u"14.0"_s) },
        { u"com.example.bare"_s, app({ { u"name"_s, u"Bare"_s } }, u"unknown"_s) },
        { u"com.example.built"_s, app({ { u"name"_s, u"Built"_s } }, u"42"_s) },
        { u"com.example.brewed"_s,
            app({ { u"name"_s, u"Brewed"_s }, { u"team"_s, u"TEAM1"_s }, { u"source"_s, u"Homebrew cask"_s },
                    { u"caskToken"_s, u"brewed"_s }, { u"homepage"_s, u"https://brewed.example/"_s } },
                u"3"_s) },
        { u"com.example.sparkly"_s,
            app({ { u"name"_s, u"Sparkly"_s }, { u"source"_s, u"Sparkle"_s },
                    { u"feedURL"_s, u"https://own.example/appcast.xml"_s }, { u"edKey"_s, u"KEY="_s } },
                u"2"_s) },
        { u"com.example.hubbed"_s,
            app({ { u"name"_s, u"Hubbed"_s }, { u"source"_s, u"GitHub Releases"_s },
                    { u"githubRepo"_s, u"owner/hubbed"_s } },
                u"5"_s) },
        { u"com.example.electrified"_s,
            app({ { u"name"_s, u"Electrified"_s }, { u"source"_s, u"Electron"_s } }, u"6"_s) },
    };
    std::map<QString, QJsonObject> written;
    for (const LibraryApp& stored : await(cloud.apps(net)))
        written.emplace(stored.id, this->stored(cloud, u"apps/"_s + stored.id));
    EXPECT_EQ(written, expected);
    EXPECT_EQ(stored(cloud, u"devices/d1"_s),
        QJsonObject({ { u"name"_s, u"Studio"_s }, { u"model"_s, u"Mac15,3"_s }, { u"lastSeen"_s, atFixedNow },
            { u"hardware"_s, u"hash-of-d1"_s } }));
}

TEST_F(SyncTest, LaterSyncsWriteOnlyWhatChangedAndKeepOtherMacsEntries)
{
    const auto installed = [](const QString& id, const QString& version) {
        return Cloud::Installed { { .name = id, .bundleID = id, .version = version }, std::nullopt };
    };
    const QString a = u"com.example.a"_s;
    const QString b = u"com.example.b"_s;
    const QDateTime later = fixedNow.addSecs(3600);
    ASSERT_EQ(sync(u"d1"_s, { installed(a, u"1.0"_s), installed(b, u"1.0"_s) }, fixedNow), 3);
    ASSERT_EQ(sync(u"d2"_s, { installed(a, u"1.0"_s) }, fixedNow), 2);

    EXPECT_EQ(sync(u"d1"_s, { installed(a, u"1.0"_s), installed(b, u"1.0"_s) }, later), 1);
    EXPECT_EQ(stored(cloud, u"devices/d1"_s).value(u"lastSeen"_s), u"2027-01-15T09:00:00Z"_s);
    EXPECT_EQ(sync(u"d1"_s, { installed(a, u"1.0"_s), installed(b, u"1.1"_s) }, later), 2);

    // a is gone from d1; an id no document can have is never written, whichever way it went.
    const LibraryApp odd { .id = u"com.example/odd"_s,
        .devices = { { u"d1"_s, { u"1"_s, true, fixedNow } } } };
    EXPECT_EQ(sync(u"d1"_s, { installed(b, u"1.1"_s) }, later, { odd }), 2);
    EXPECT_EQ(stored(cloud, u"apps/"_s + a),
        QJsonObject({ { u"name"_s, a },
            { u"devices"_s,
                QJsonObject { { u"d1"_s, onDevice(u"1.0"_s, false, u"2027-01-15T09:00:00Z"_s) },
                    { u"d2"_s, onDevice(u"1.0"_s, true, atFixedNow) } } } }));
    // A second copy of b at another version doesn't rewrite b at every sync.
    EXPECT_EQ(sync(u"d1"_s, { installed(b, u"1.1"_s), installed(b, u"0.9"_s) }, later), 1);
}

} // namespace
