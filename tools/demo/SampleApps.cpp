#include "demo/Ed25519Key.h"
#include "demo/Feeds.h"
#include "demo/World.h"
#include "demo/WorldBuilder.h"
#include "sources/Release.h"

#include <QCryptographicHash>
#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

// What the expectations quote: the sources' labels and the fixed texts the
// check and the installer use.
const QString appStore = label(SourceKind::appStore);
const QString sparkle = label(SourceKind::sparkle);
const QString homebrew = label(SourceKind::homebrew);
const QString github = label(SourceKind::github);
const QString electron = label(SourceKind::electron);

constexpr qint64 kilobyte = 1024;

ExpectedCheck update(const QString& source, const QString& release)
{
    return { u"update"_s, source, release, std::nullopt };
}

ExpectedCheck upToDate(const QString& source, const QString& release)
{
    return { u"upToDate"_s, source, release, std::nullopt };
}

ExpectedCheck cantVerify(const QString& text)
{
    return { u"cantVerify"_s, std::nullopt, std::nullopt, text };
}

ExpectedUpdate installed(const QString& version, QStringList log)
{
    return { ExpectedUpdate::Outcome::installed, version, std::nullopt, std::move(log) };
}

ExpectedUpdate refused(const QString& text)
{
    return { ExpectedUpdate::Outcome::refused, std::nullopt, text, {} };
}

ExpectedUpdate notOffered(const QString& text)
{
    return { ExpectedUpdate::Outcome::notOffered, std::nullopt, text, {} };
}

// Restoring from the library onto an empty Mac.
ExpectedRestore restored(const QString& version, const QString& team)
{
    return { ExpectedRestore::Outcome::installed, version, team, std::nullopt };
}

ExpectedRestore restoreRefused(const QString& text)
{
    return { ExpectedRestore::Outcome::refused, std::nullopt, std::nullopt, text };
}

ExpectedRestore restoreManual(const QString& reason)
{
    return { ExpectedRestore::Outcome::manual, std::nullopt, std::nullopt, reason };
}

QString noDeveloperID(const QString& name)
{
    return name
        + u" isn't signed with a Developer ID, and your other Mac has no developer on record to compare it "
          u"with. Refusing to install."_s;
}

const QString nothingFound
    = u"Corvanta found no download for it: no Homebrew cask, Sparkle feed or GitHub release."_s;

QString sizeMatches(const Published& file)
{
    return u"Size matches: %1 bytes"_s.arg(file.size);
}

QString sizeUnstated(const Published& file)
{
    return u"Size: %1 bytes (the source doesn't state one)"_s.arg(file.size);
}

QString meetsRequirement(const QString& team)
{
    return u"Code signature valid and meets the installed app's designated requirement (team "_s + team
        + u')';
}

QString newer(const QString& bundleID, const QString& latest, const QString& installed)
{
    return u"Bundle "_s + bundleID + u' ' + latest + u" is newer than "_s + installed;
}

const QString adHocVouched
    = u"Code signature valid; the installed app is ad-hoc signed, so its EdDSA key vouched for the download"_s;
const QString agreementAccepted
    = u"The disk image came with the developer's license agreement, which Corvanta "
      u"accepted to open it: the developer's license terms apply to this app."_s;
const QString sha256Matches = u"SHA-256 matches the source"_s;

// The sample apps, one function each, sharing the builder and the dates.
class Samples {
public:
    explicit Samples(WorldBuilder& world)
        : m_world(world)
        , m_now(QDateTime::currentDateTimeUtc())
    {
    }

    void all()
    {
        nimbusNotes();
        harbor();
        quill();
        pebble();
        ferry();
        drift();
        tempo();
        gauge();
        prism();
        scribble();
        tally();
        lumen();
        atlas();
        orbit();
        relay();
        vista();
        kiln();
        sextant();
        compass();
        beacon();
        ledger();
        chess();
        widgetry();
    }

private:
    QDateTime daysAgo(int days) const { return m_now.addDays(-days); }

    // The bundle of `name` at `version`, universal unless told otherwise.
    static AppBundle bundle(const QString& name, const QString& bundleID,
        const std::optional<QString>& version, const std::optional<QString>& build,
        qint64 payload = 256 * kilobyte)
    {
        AppBundle result;
        result.name = name;
        result.bundleID = bundleID;
        result.version = version;
        result.build = build;
        result.payloadBytes = payload;
        return result;
    }

    // The installed copy with its manifest entry.
    void install(const AppBundle& app, const Signature& signature, const QString& about, ExpectedCheck check,
        std::optional<ExpectedUpdate> outcome = std::nullopt, const QString& subfolder = {})
    {
        m_world.install(app, signature, subfolder);
        SampleApp sample;
        sample.name = app.name;
        sample.path = (subfolder.isEmpty() ? QString() : subfolder + u'/') + app.name + u".app"_s;
        sample.bundleID = app.bundleID;
        sample.version = app.version;
        sample.build = app.build;
        sample.signing = signature.name();
        if (signature.kind == Signature::Kind::developerID)
            sample.team = signature.team;
        sample.edKey = app.extraInfo.contains(u"SUPublicEDKey"_s);
        sample.about = about;
        sample.check = std::move(check);
        sample.update = std::move(outcome);
        m_world.expect(std::move(sample));
    }

    QUrl feed(const QString& slug) const { return m_world.url(u"feeds/"_s + slug + u"/appcast.xml"_s); }

    void publishFeed(const QString& slug, const QString& title, const std::vector<AppcastEntry>& entries)
    {
        m_world.publish(u"feeds/"_s + slug + u"/appcast.xml"_s,
            appcast(title, QUrl(u"https://"_s + slug + u".example/"_s), entries));
    }

    // A release-notes page the appcast links to.
    QUrl notesPage(const QString& slug, const QString& version, const QString& html)
    {
        const QString path = u"feeds/"_s + slug + u'/' + version + u".html"_s;
        m_world.publish(path,
            (u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>"_s + version
                + u"</title></head><body>"_s + html + u"</body></html>\n"_s)
                .toUtf8());
        return m_world.url(path);
    }

    static Enclosure enclosure(
        const Published& file, const std::optional<QString>& edSignature = std::nullopt)
    {
        Enclosure result;
        result.url = file.url;
        result.length = file.size;
        result.edSignature = edSignature;
        return result;
    }

    AppcastEntry entry(const QString& title, const std::optional<QString>& shortVersion,
        const std::optional<QString>& build, const QString& notes, int age)
    {
        AppcastEntry result;
        result.title = title;
        result.shortVersion = shortVersion;
        result.build = build;
        result.notesHtml = notes;
        result.published = daysAgo(age);
        return result;
    }

    // Opaque bytes standing in for a file nobody installs (a delta, a Windows build).
    Published placeholder(const QString& path, const QString& what)
    {
        return m_world.publish(path, (u"Corvanta demo: "_s + what + u".\n"_s).toUtf8());
    }

    static QJsonObject cask(const QString& token, const QString& name, const QString& version,
        const QUrl& url, const QString& sha256, const QString& homepage, const QJsonArray& artifacts)
    {
        return {
            { u"token"_s, token },
            { u"full_token"_s, token },
            { u"tap"_s, u"homebrew/cask"_s },
            { u"name"_s, QJsonArray { name } },
            { u"desc"_s, QString(name + u", a sample app of the Corvanta demo"_s) },
            { u"homepage"_s, homepage },
            { u"url"_s, url.toString(QUrl::FullyEncoded) },
            { u"version"_s, version },
            { u"sha256"_s, sha256 },
            { u"artifacts"_s, artifacts },
            { u"depends_on"_s,
                QJsonObject { { u"macos"_s, QJsonObject { { u">="_s, QJsonArray { u"12"_s } } } } } },
            { u"auto_updates"_s, true },
        };
    }

    static QJsonArray artifacts(const QString& app, const QString& bundleID)
    {
        return {
            QJsonObject { { u"app"_s, QJsonArray { app } } },
            QJsonObject { { u"zap"_s,
                QJsonArray { QJsonObject { { u"trash"_s,
                    QJsonArray { QString(u"~/Library/Application Support/"_s + app.chopped(4)),
                        QString(u"~/Library/Preferences/"_s + bundleID + u".plist"_s),
                        QString(u"~/Library/Caches/"_s + bundleID) } } } } } },
        };
    }

    // ---- Sparkle ----------------------------------------------------------

    // The everyday case, and a feed with everything real feeds carry: a beta
    // channel, an item for a newer macOS, deltas and older releases.
    void nimbusNotes()
    {
        const QString id = u"com.nimbuslabs.notes"_s;
        const Signature team = Signature::developerID(u"NIMBUS0001"_s, u"Nimbus Labs"_s);
        AppBundle app = bundle(u"Nimbus Notes"_s, id, u"2.3.1"_s, u"231"_s, 1536 * kilobyte);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"nimbus-notes"_s).toString());

        AppBundle next = app;
        next.version = u"2.4.0"_s;
        next.build = u"240"_s;
        const Published current = m_world.publishZip(next, team, u"downloads/NimbusNotes-2.4.0.zip"_s);
        AppBundle beta = app;
        beta.version = u"2.5.0b1"_s;
        beta.build = u"250"_s;
        beta.payloadBytes = 64 * kilobyte;
        const Published betaZip = m_world.publishZip(beta, team, u"downloads/NimbusNotes-2.5.0b1.zip"_s);
        AppBundle future = app;
        future.version = u"3.0.0"_s;
        future.build = u"300"_s;
        future.payloadBytes = 64 * kilobyte;
        const Published futureZip = m_world.publishZip(future, team, u"downloads/NimbusNotes-3.0.0.zip"_s);
        AppBundle old = app;
        old.payloadBytes = 64 * kilobyte;
        const Published oldZip = m_world.publishZip(old, team, u"downloads/NimbusNotes-2.3.1.zip"_s);

        AppcastEntry three = entry(u"Version 3.0.0"_s, u"3.0.0"_s, u"300"_s,
            u"<h2>Nimbus Notes 3</h2><p>A new editor, for the newest macOS.</p>"_s, 2);
        three.minimumSystem = u"16.0"_s;
        three.enclosure = enclosure(futureZip);
        AppcastEntry betaEntry = entry(
            u"Version 2.5.0 beta 1"_s, u"2.5.0b1"_s, u"250"_s, u"<p>Try the new sync engine early.</p>"_s, 4);
        betaEntry.channel = u"beta"_s;
        betaEntry.enclosure = enclosure(betaZip);
        AppcastEntry release = entry(u"Version 2.4.0"_s, u"2.4.0"_s, u"240"_s,
            u"<p>Faster search &amp; fewer surprises.</p><ul><li>Search opens instantly</li>"
            u"<li>Exports keep their images</li></ul>"_s,
            9);
        release.minimumSystem = u"12.0"_s;
        release.notesLink = notesPage(u"nimbus-notes"_s, u"2.4.0"_s, u"<h1>Nimbus Notes 2.4.0</h1>"_s);
        release.enclosure = enclosure(current);
        for (const QString& from : { u"231"_s, u"230"_s }) {
            const Published delta = placeholder(u"downloads/NimbusNotes-240-from-"_s + from + u".delta"_s,
                u"a binary delta from build "_s + from);
            release.deltas.push_back({ delta.url, from, delta.size, std::nullopt });
        }
        AppcastEntry previous
            = entry(u"Version 2.3.1"_s, u"2.3.1"_s, u"231"_s, u"<p>Fixes a crash when printing.</p>"_s, 40);
        previous.enclosure = enclosure(oldZip);
        publishFeed(u"nimbus-notes"_s, u"Nimbus Notes"_s, { three, betaEntry, release, previous });

        install(app, team,
            u"Developer ID, Sparkle feed with a beta channel, an item for macOS 16, deltas; a good zip update"_s,
            update(sparkle, u"2.4.0"_s),
            installed(u"2.4.0"_s,
                { sizeMatches(current), meetsRequirement(team.team), newer(id, u"2.4.0"_s, u"2.3.1"_s) }));
        m_world.expectRestore(id, restored(u"2.4.0"_s, team.team));
    }

    // Ad-hoc signed: the app's EdDSA key is what vouches for its updates.
    void harbor()
    {
        const QString id = u"com.harborsoft.harbor"_s;
        const Ed25519Key key = Ed25519Key::generate();
        AppBundle app = bundle(u"Harbor"_s, id, u"1.8"_s, u"180"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"harbor"_s).toString());
        app.extraInfo.insert(u"SUPublicEDKey"_s, key.publicKeyBase64());

        AppBundle next = app;
        next.version = u"1.9"_s;
        next.build = u"190"_s;
        const Published zip = m_world.publishZip(next, Signature::adHoc(), u"downloads/Harbor-1.9.zip"_s);
        const QString signature = key.signFile(m_world.layout().documents() + u'/' + zip.path);

        // The older style: versions as enclosure attributes.
        AppcastEntry release = entry(u"Harbor 1.9"_s, u"1.9"_s, u"190"_s,
            u"<p>Docking is smoother.</p><ul><li>Drag tabs between windows</li><li>Dark icons</li></ul>"_s,
            3);
        release.versionsOnEnclosure = true;
        release.enclosure = enclosure(zip, signature);
        publishFeed(u"harbor"_s, u"Harbor"_s, { release });

        install(app, Signature::adHoc(),
            u"Ad-hoc signed with a Sparkle EdDSA key; a good EdDSA-signed zip update"_s,
            update(sparkle, u"1.9"_s),
            installed(u"1.9"_s,
                { sizeMatches(zip), u"EdDSA signature valid for Harbor's public key"_s, adHocVouched,
                    newer(id, u"1.9"_s, u"1.8"_s) }));
        m_world.expectRestore(id, restoreRefused(noDeveloperID(app.name)));
    }

    // A disk image that opens only after its licence agreement.
    void quill()
    {
        const QString id = u"com.quillworks.quill"_s;
        const Signature team = Signature::developerID(u"QUILLWRK01"_s, u"Quillworks"_s);
        AppBundle app = bundle(u"Quill"_s, id, u"4.0"_s, u"400"_s, 1024 * kilobyte);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"quill"_s).toString());

        AppBundle next = app;
        next.version = u"4.1"_s;
        next.build = u"410"_s;
        const Published image = m_world.publishDiskImage(next, team, u"downloads/Quill-4.1.dmg"_s,
            u"QUILL SOFTWARE LICENCE AGREEMENT\n\nThis is the licence agreement of a sample app of the "
            u"Corvanta "
            u"demo. By opening the disk image you accept it.\n"_s);
        AppcastEntry release
            = entry(u"Quill 4.1"_s, u"4.1"_s, u"410"_s, u"<p>Ink that dries faster.</p>"_s, 5);
        release.enclosure = enclosure(image);
        release.enclosure->type = u"application/x-apple-diskimage"_s;
        publishFeed(u"quill"_s, u"Quill"_s, { release });

        install(app, team, u"Developer ID; a good disk-image update that carries a licence agreement"_s,
            update(sparkle, u"4.1"_s),
            installed(u"4.1"_s,
                { sizeMatches(image), agreementAccepted, meetsRequirement(team.team),
                    newer(id, u"4.1"_s, u"4.0"_s) }));
        m_world.expectRestore(id, restored(u"4.1"_s, team.team));
    }

    void pebble()
    {
        const QString id = u"com.pebbleapps.pebble"_s;
        const Signature team = Signature::developerID(u"PEBBLE0001"_s, u"Pebble Apps"_s);
        const Signature impostor = Signature::developerID(u"IMPOSTR001"_s, u"Someone Else"_s);
        AppBundle app = bundle(u"Pebble"_s, id, u"1.2"_s, u"12"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"pebble"_s).toString());

        AppBundle next = app;
        next.version = u"1.3"_s;
        next.build = u"13"_s;
        const Published zip = m_world.publishZip(next, impostor, u"downloads/Pebble-1.3.zip"_s);
        AppcastEntry release = entry(u"Pebble 1.3"_s, u"1.3"_s, u"13"_s, u"<p>Smoother stones.</p>"_s, 1);
        release.enclosure = enclosure(zip);
        publishFeed(u"pebble"_s, u"Pebble"_s, { release });

        install(app, team, u"Developer ID; the download is validly signed, but by another team"_s,
            update(sparkle, u"1.3"_s),
            refused(
                u"The download isn't signed by the developer of the installed Pebble (it doesn't meet the "
                u"installed app's designated requirement; the download is signed by IMPOSTR001). Refusing to "
                u"install."_s));
        m_world.expectRestore(id,
            restoreRefused(
                u"Team ID mismatch: Pebble on your other Mac was signed by PEBBLE0001, this download by "
                u"IMPOSTR001. Refusing to install."_s));
    }

    void ferry()
    {
        const QString id = u"com.ferryapp.ferry"_s;
        const Signature team = Signature::developerID(u"FERRYAPP01"_s, u"Ferry"_s);
        AppBundle app = bundle(u"Ferry"_s, id, u"4.2"_s, u"42"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"ferry"_s).toString());

        // The feed promises 5.0; the file holds an older build.
        AppBundle older = app;
        older.version = u"4.1"_s;
        older.build = u"41"_s;
        const Published zip = m_world.publishZip(older, team, u"downloads/Ferry-5.0.zip"_s);
        AppcastEntry release = entry(u"Ferry 5.0"_s, u"5.0"_s, u"50"_s, u"<p>A new hull.</p>"_s, 2);
        release.enclosure = enclosure(zip);
        publishFeed(u"ferry"_s, u"Ferry"_s, { release });

        install(app, team, u"Developer ID; the feed says 5.0 but the download is an older 4.1"_s,
            update(sparkle, u"5.0"_s),
            refused(
                u"The download is version 4.1, not newer than the installed 4.2. Refusing to downgrade."_s));
        // A first install has no installed version to compare the file's with.
        m_world.expectRestore(id, restored(u"4.1"_s, team.team));
    }

    void drift()
    {
        const QString id = u"io.driftapp.drift"_s;
        const Ed25519Key key = Ed25519Key::generate();
        AppBundle app = bundle(u"Drift"_s, id, u"0.9"_s, u"90"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"drift"_s).toString());
        app.extraInfo.insert(u"SUPublicEDKey"_s, key.publicKeyBase64());

        // Genuinely signed by the developer's key, yet the app inside reaches out of its folder.
        AppBundle next = app;
        next.version = u"1.0"_s;
        next.build = u"100"_s;
        next.links.emplace_back(u"Contents/Resources/support"_s, u"../../../../../../../etc"_s);
        const Published zip = m_world.publishZip(next, Signature::adHoc(), u"downloads/Drift-1.0.zip"_s);
        AppcastEntry release = entry(u"Drift 1.0"_s, u"1.0"_s, u"100"_s, u"<p>Out of beta.</p>"_s, 6);
        release.enclosure = enclosure(zip, key.signFile(m_world.layout().documents() + u'/' + zip.path));
        publishFeed(u"drift"_s, u"Drift"_s, { release });

        install(app, Signature::adHoc(),
            u"Ad-hoc with an EdDSA key; a properly EdDSA-signed zip whose app links out of the tree"_s,
            update(sparkle, u"1.0"_s),
            refused(u"The download contains a link to a location outside the app (support \u2192 "
                    u"../../../../../../../etc). Refusing to install."_s));
        m_world.expectRestore(id,
            restoreRefused(u"The download contains a link to a location outside the app (support \u2192 "
                           u"../../../../../../../etc). Refusing to install."_s));
    }

    // Its version is a build counter, and so is its feed's.
    void tempo()
    {
        const QString id = u"com.tempoapp.tempo"_s;
        const Ed25519Key key = Ed25519Key::generate();
        AppBundle app = bundle(u"Tempo"_s, id, u"1482"_s, u"1482"_s);
        app.architectures = { Architecture::arm64 };
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"tempo"_s).toString());
        app.extraInfo.insert(u"SUPublicEDKey"_s, key.publicKeyBase64());

        AppBundle next = app;
        next.version = u"1503"_s;
        next.build = u"1503"_s;
        const Published zip = m_world.publishZip(next, Signature::adHoc(), u"downloads/Tempo-1503.zip"_s);
        const QString signature = key.signFile(m_world.layout().documents() + u'/' + zip.path);
        AppcastEntry release
            = entry(u"Build 1503"_s, std::nullopt, u"1503"_s, u"<p>Nightly build 1503.</p>"_s, 1);
        release.enclosure = enclosure(zip, signature);
        AppcastEntry previous
            = entry(u"Build 1482"_s, std::nullopt, u"1482"_s, u"<p>Nightly build 1482.</p>"_s, 12);
        publishFeed(u"tempo"_s, u"Tempo"_s, { release, previous });

        install(app, Signature::adHoc(),
            u"A build counter as its version (1482), arm64 only; EdDSA-signed update"_s,
            update(sparkle, u"1503"_s),
            installed(u"1503"_s,
                { sizeMatches(zip), u"EdDSA signature valid for Tempo's public key"_s, adHocVouched,
                    newer(id, u"1503"_s, u"1482"_s) }));
        m_world.expectRestore(id, restoreRefused(noDeveloperID(app.name)));
    }

    // One subfolder level down, as Utilities holds apps.
    void gauge()
    {
        const QString id = u"com.gaugeworks.gauge"_s;
        const Signature team = Signature::developerID(u"GAUGEWRK01"_s, u"Gaugeworks"_s);
        AppBundle app = bundle(u"Gauge"_s, id, u"2.0"_s, u"20"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"gauge"_s).toString());
        AppcastEntry latest = entry(u"Gauge 2.0"_s, u"2.0"_s, u"20"_s, u"<p>Dials you can read.</p>"_s, 30);
        latest.enclosure = enclosure(m_world.publishZip(app, team, u"downloads/Gauge-2.0.zip"_s));
        AppcastEntry older = entry(u"Gauge 1.9"_s, u"1.9"_s, u"19"_s, u"<p>Calibration.</p>"_s, 90);
        publishFeed(u"gauge"_s, u"Gauge"_s, { older, latest });

        install(app, team, u"In the Utilities subfolder; its feed's newest release is the installed one"_s,
            upToDate(sparkle, u"2.0"_s), std::nullopt, u"Utilities"_s);
        m_world.expectRestore(id, restored(u"2.0"_s, team.team));
    }

    // Every release of its feed is either a beta or needs a newer macOS.
    void prism()
    {
        const QString id = u"com.prismlabs.prism"_s;
        const Signature team = Signature::developerID(u"PRISMLAB01"_s, u"Prism Labs"_s);
        AppBundle app = bundle(u"Prism"_s, id, u"1.0"_s, u"100"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"prism"_s).toString());
        AppcastEntry beta = entry(u"Prism 1.1 beta 2"_s, u"1.1b2"_s, u"112"_s, u"<p>Refraction.</p>"_s, 3);
        beta.channel = u"beta"_s;
        AppcastEntry two = entry(u"Prism 2.0"_s, u"2.0"_s, u"200"_s, u"<p>For macOS 16.</p>"_s, 1);
        two.minimumSystem = u"16.0"_s;
        publishFeed(u"prism"_s, u"Prism"_s, { two, beta });

        install(app, team, u"Its feed offers only a beta and a release for macOS 16"_s,
            cantVerify(sparkle + u": No release in the appcast runs on macOS 15.0.0"_s));
        m_world.expectRestore(id, restoreManual(nothingFound));
    }

    void scribble()
    {
        const QString id = u"org.scribble.scribble"_s;
        AppBundle app = bundle(u"Scribble"_s, id, u"0.8"_s, u"8"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"scribble"_s).toString());
        AppBundle next = app;
        next.version = u"0.9"_s;
        next.build = u"9"_s;
        const Published zip
            = m_world.publishZip(next, Signature::unsignedCode(), u"downloads/Scribble-0.9.zip"_s);
        AppcastEntry release = entry(u"Scribble 0.9"_s, u"0.9"_s, u"9"_s, u"<p>Thicker pencils.</p>"_s, 4);
        release.notesLink = notesPage(u"scribble"_s, u"0.9"_s, u"<h1>Scribble 0.9</h1>"_s);
        release.enclosure = enclosure(zip);
        publishFeed(u"scribble"_s, u"Scribble"_s, { release });

        install(app, Signature::unsignedCode(),
            u"Unsigned and without an EdDSA key: updates can't be verified"_s, update(sparkle, u"0.9"_s),
            notOffered(u"Scribble isn't signed by a developer, so Corvanta can't confirm the download is "
                       u"genuine. Download it from its website."_s));
        m_world.expectRestore(id,
            restoreRefused(
                u"The new version's code signature is invalid: code object is not signed at all."_s));
    }

    // ---- Homebrew and GitHub ------------------------------------------------

    void tally()
    {
        const QString id = u"com.tallyhq.tally"_s;
        const Signature team = Signature::developerID(u"TALLYHQ001"_s, u"Tally HQ"_s);
        const AppBundle app = bundle(u"Tally"_s, id, u"2.0"_s, u"200"_s);
        AppBundle next = app;
        next.version = u"2.1"_s;
        next.build = u"210"_s;
        const Published zip = m_world.publishZip(next, team, u"downloads/Tally-2.1.zip"_s);
        // The checksum of the file as it was first uploaded, before someone replaced it.
        const QString stale = QString::fromLatin1(
            QCryptographicHash::hash("Tally 2.1 as first uploaded", QCryptographicHash::Sha256).toHex());
        m_world.addCask(cask(u"tally"_s, u"Tally"_s, u"2.1"_s, zip.url, stale, u"https://tallyhq.example/"_s,
            artifacts(u"Tally.app"_s, id)));

        install(app, team, u"Homebrew cask whose SHA-256 doesn't match the file served"_s,
            update(homebrew, u"2.1"_s),
            refused(u"SHA-256 checksum mismatch. The download is corrupted or not the file the source "
                    u"published."_s));
        m_world.expectRestore(id,
            restoreRefused(
                u"SHA-256 checksum mismatch: the download isn't the file the source published."_s));
    }

    void lumen()
    {
        const QString id = u"com.lumenapps.lumen"_s;
        const Signature team = Signature::developerID(u"LUMENAPP01"_s, u"Lumen Apps"_s);
        const AppBundle app = bundle(u"Lumen"_s, id, u"3.1"_s, u"310"_s, 768 * kilobyte);
        AppBundle next = app;
        next.version = u"3.2"_s;
        next.build = u"320"_s;
        const Published image = m_world.publishDiskImage(next, team, u"downloads/Lumen-3.2.dmg"_s);
        m_world.addCask(cask(u"lumen"_s, u"Lumen"_s, u"3.2,320"_s, image.url, image.sha256,
            u"https://lumenapps.example/"_s, artifacts(u"Lumen.app"_s, id)));

        install(app, team, u"Homebrew cask with a version \"3.2,320\"; a good disk-image update"_s,
            update(homebrew, u"3.2"_s),
            installed(u"3.2"_s,
                { sizeUnstated(image), sha256Matches, meetsRequirement(team.team),
                    newer(id, u"3.2"_s, u"3.1"_s) }));
        m_world.expectRestore(id, restored(u"3.2"_s, team.team));
    }

    void atlas()
    {
        const QString id = u"com.atlasmaps.atlas"_s;
        const Signature team = Signature::developerID(u"ATLASMAP01"_s, u"Atlas Maps"_s);
        const AppBundle app = bundle(u"Atlas"_s, id, u"5.0"_s, u"500"_s);
        AppBundle next = app;
        next.version = u"5.1"_s;
        next.build = u"510"_s;
        next.architectures = { Architecture::x86_64 };
        const Published zip = m_world.publishZip(next, team, u"downloads/Atlas-5.1.zip"_s);
        m_world.addCask(cask(u"atlas"_s, u"Atlas"_s, u"5.1"_s, zip.url, zip.sha256,
            u"https://atlasmaps.example/"_s, artifacts(u"Atlas.app"_s, id)));

        install(app, team, u"Homebrew cask whose download holds an Intel-only build"_s,
            update(homebrew, u"5.1"_s),
            refused(u"The download doesn't include a build for this Mac's processor."_s));
        // First installs don't check the processor yet, so the Intel-only build goes in.
        m_world.expectRestore(id, restored(u"5.1"_s, team.team));
    }

    // An unversioned cask that names its GitHub repository.
    void orbit()
    {
        const QString id = u"dev.orbitapp.orbit"_s;
        const Signature team = Signature::developerID(u"ORBITDEV01"_s, u"Orbit Developers"_s);
        const AppBundle app = bundle(u"Orbit"_s, id, u"3.1.0"_s, u"3100"_s, 1024 * kilobyte);
        AppBundle next = app;
        next.version = u"3.2.0"_s;
        next.build = u"3200"_s;
        const QString releases = u"orbit-dev/orbit/releases/"_s;
        const QString downloads = releases + u"download/v3.2.0/"_s;

        std::vector<ReleaseAsset> assets;
        const auto add = [&](const Published& file, const QString& type) {
            assets.push_back({ file.path.section(u'/', -1), file.url, file.size, file.sha256, type });
        };
        AppBundle arm = next;
        arm.architectures = { Architecture::arm64 };
        arm.payloadBytes = 64 * kilobyte;
        add(m_world.publishZip(arm, team, downloads + u"Orbit-3.2.0-arm64.zip"_s), u"application/zip"_s);
        AppBundle intel = arm;
        intel.architectures = { Architecture::x86_64 };
        add(m_world.publishZip(intel, team, downloads + u"Orbit-3.2.0-x86_64.zip"_s), u"application/zip"_s);
        const Published universal
            = m_world.publishZip(next, team, downloads + u"Orbit-3.2.0-universal-mac.zip"_s);
        add(universal, u"application/zip"_s);
        for (const auto& [name, what] : std::initializer_list<std::pair<QString, QString>> {
                 { u"Orbit-3.2.0-win64.zip"_s, u"the Windows build of Orbit"_s },
                 { u"Orbit-3.2.0-linux-arm64.zip"_s, u"the Linux build of Orbit"_s },
                 { u"Orbit-3.2.0-src.zip"_s, u"Orbit's source code"_s },
                 { u"Orbit-3.2.0.dSYM.zip"_s, u"Orbit's debug symbols"_s },
                 { u"Orbit-3.2.0-arm64.pkg"_s, u"an installer package of Orbit"_s } })
            add(placeholder(downloads + name, what), u"application/octet-stream"_s);

        const QString tagPage = releases + u"tag/v3.2.0"_s;
        m_world.publish(tagPage, "<!DOCTYPE html><html><body><h1>Orbit v3.2.0</h1></body></html>\n");
        m_world.publish(u"repos/orbit-dev/orbit/releases/latest.json"_s,
            githubRelease(m_world.url(u"repos/"_s + releases), u"v3.2.0"_s,
                u"## What's new\n\n- Orbits are drawn to scale\n- Universal build for every Mac\n"_s,
                m_world.url(tagPage), assets, daysAgo(2)));
        m_world.addCask(cask(u"orbit"_s, u"Orbit"_s, u"latest"_s, universal.url, u"no_check"_s,
            u"https://github.com/orbit-dev/orbit"_s, artifacts(u"Orbit.app"_s, id)));

        install(app, team,
            u"Unversioned cask naming its GitHub repository; the latest release has assets for every "
            u"architecture"_s,
            update(github, u"3.2.0"_s),
            installed(u"3.2.0"_s,
                { sizeMatches(universal), sha256Matches, meetsRequirement(team.team),
                    newer(id, u"3.2.0"_s, u"3.1.0"_s) }));
        m_world.expectRestore(id, restored(u"3.2.0"_s, team.team));
    }

    // The regular cask and a beta edition ("@") both install Relay.app.
    void relay()
    {
        const QString id = u"com.relayhq.relay"_s;
        const Signature team = Signature::developerID(u"RELAYHQ001"_s, u"Relay HQ"_s);
        const AppBundle app = bundle(u"Relay"_s, id, u"2.2"_s, u"220"_s);
        AppBundle beta = app;
        beta.version = u"2.3-beta1"_s;
        beta.build = u"231"_s;
        beta.payloadBytes = 64 * kilobyte;
        const Published betaZip = m_world.publishZip(beta, team, u"downloads/Relay-2.3-beta1.zip"_s);
        m_world.addCask(cask(u"relay@beta"_s, u"Relay Beta"_s, u"2.3-beta1"_s, betaZip.url, betaZip.sha256,
            u"https://relayhq.example/beta"_s, artifacts(u"Relay.app"_s, id)));
        const Published zip = m_world.publishZip(app, team, u"downloads/Relay-2.2.zip"_s);
        m_world.addCask(cask(u"relay"_s, u"Relay"_s, u"2.2"_s, zip.url, zip.sha256,
            u"https://relayhq.example/"_s, artifacts(u"Relay.app"_s, id)));

        install(app, team, u"Homebrew cask up to date; a beta edition (relay@beta) is passed over"_s,
            upToDate(homebrew, u"2.2"_s));
        m_world.expectRestore(id, restored(u"2.2"_s, team.team));
    }

    void vista()
    {
        const QString id = u"com.vistasoft.vista"_s;
        const Signature team = Signature::developerID(u"VISTASFT01"_s, u"Vista Software"_s);
        const AppBundle app = bundle(u"Vista"_s, id, u"2023"_s, u"2023"_s);
        AppBundle next = app;
        next.version = u"2.1"_s;
        next.build = u"2100"_s;
        const Published zip = m_world.publishZip(next, team, u"downloads/Vista-2.1.zip"_s);
        m_world.addCask(cask(u"vista"_s, u"Vista"_s, u"2.1"_s, zip.url, zip.sha256,
            u"https://vistasoft.example/"_s, artifacts(u"Vista.app"_s, id)));

        install(app, team, u"A year-like build counter (2023) that can't be compared with the cask's 2.1"_s,
            cantVerify(u"Couldn't compare the installed version 2023 with 2.1 from "_s + homebrew));
        m_world.expectRestore(id, restored(u"2.1"_s, team.team));
    }

    // Its own feed is gone; the cask knows it only by its bundle identifier.
    void kiln()
    {
        const QString id = u"com.kilnapps.kiln"_s;
        const Signature team = Signature::developerID(u"KILNAPPS01"_s, u"Kiln Apps"_s);
        AppBundle app = bundle(u"Kiln"_s, id, u"7.0"_s, u"700"_s);
        app.extraInfo.insert(u"SUFeedURL"_s, feed(u"kiln"_s).toString());
        AppBundle next = app;
        next.version = u"7.1"_s;
        next.build = u"710"_s;
        const Published zip = m_world.publishZip(next, team, u"downloads/Kiln-7.1.zip"_s);
        m_world.addCask(cask(u"kiln-studio"_s, u"Kiln Studio"_s, u"7.1"_s, zip.url, zip.sha256,
            u"https://kilnapps.example/"_s, artifacts(u"Kiln Studio.app"_s, id)));

        install(app, team,
            u"Its Sparkle feed answers 404; a cask for \"Kiln Studio.app\" names its bundle identifier"_s,
            update(homebrew, u"7.1"_s),
            installed(u"7.1"_s,
                { sizeUnstated(zip), sha256Matches, meetsRequirement(team.team),
                    newer(id, u"7.1"_s, u"7.0"_s) }));
        m_world.expectRestore(id, restored(u"7.1"_s, team.team));
    }

    // Its cask installs it with a signed, notarized installer package.
    void sextant()
    {
        const QString id = u"com.sextantnav.sextant"_s;
        const Signature team = Signature::developerID(u"SEXTANT001"_s, u"Sextant Navigation"_s);
        const AppBundle app = bundle(u"Sextant"_s, id, u"3.0"_s, u"300"_s);
        const Published package = m_world.publishPackage(app, team, u"downloads/Sextant-3.0.pkg"_s, true);
        m_world.addCask(cask(u"sextant"_s, u"Sextant"_s, u"3.0"_s, package.url, package.sha256,
            u"https://sextantnav.example/"_s,
            { QJsonObject { { u"pkg"_s, QJsonArray { u"Sextant-3.0.pkg"_s } } },
                QJsonObject { { u"uninstall"_s,
                    QJsonArray { QJsonObject { { u"pkgutil"_s, id }, { u"quit"_s, id } } } } } }));

        install(app, team,
            u"Homebrew cask whose download is a Developer ID Installer package, notarized; up to date"_s,
            upToDate(homebrew, u"3.0"_s));
        m_world.expectRestore(id, restored(u"3.0"_s, team.team));
    }

    // Ad-hoc signed here, so the library has no team for it; the cask's
    // download is a notarized Developer ID build.
    void compass()
    {
        const QString id = u"com.compassworks.compass"_s;
        const Signature team = Signature::developerID(u"COMPASS001"_s, u"Compassworks"_s);
        const AppBundle app = bundle(u"Compass"_s, id, u"1.4"_s, u"140"_s);
        const Published zip = m_world.publishZip(app, team, u"downloads/Compass-1.4.zip"_s, true);
        m_world.addCask(cask(u"compass"_s, u"Compass"_s, u"1.4"_s, zip.url, zip.sha256,
            u"https://compassworks.example/"_s, artifacts(u"Compass.app"_s, id)));

        install(app, Signature::adHoc(),
            u"Ad-hoc signed, with a Homebrew cask whose download is a notarized Developer ID build; up to "
            u"date"_s,
            upToDate(homebrew, u"1.4"_s));
        // Notarized, as the world's ticket service confirms.
        m_world.expectRestore(id, restored(u"1.4"_s, team.team));
    }

    // ---- Electron and the App Store -----------------------------------------

    void beacon()
    {
        const QString id = u"com.beaconhq.beacon"_s;
        const Signature team = Signature::developerID(u"BEACONHQ01"_s, u"Beacon HQ"_s);
        AppBundle app = bundle(u"Beacon"_s, id, u"1.8.0"_s, u"1.8.0"_s, 512 * kilobyte);
        app.appUpdate = u"owner: beacon\nprovider: generic\nurl: "_s
            + m_world.url(u"electron/beacon"_s).toString() + u"\nupdaterCacheDirName: beacon-updater\n"_s;

        AppBundle next = app;
        next.version = u"1.9.0"_s;
        next.build = u"1.9.0"_s;
        next.architectures = { Architecture::arm64 };
        const Published arm = m_world.publishZip(next, team, u"electron/beacon/Beacon-1.9.0-arm64-mac.zip"_s);
        next.architectures = { Architecture::x86_64 };
        const Published intel = m_world.publishZip(next, team, u"electron/beacon/Beacon-1.9.0-mac.zip"_s);
        m_world.publish(u"electron/beacon/latest-mac.yml"_s,
            latestMacYml(u"1.9.0"_s,
                { { u"Beacon-1.9.0-arm64-mac.zip"_s, arm.sha512, arm.size },
                    { u"Beacon-1.9.0-mac.zip"_s, intel.sha512, intel.size } },
                daysAgo(3)));

        install(app, team, u"An Electron app whose app-update.yml names a generic feed"_s,
            update(electron, u"1.9.0"_s),
            notOffered(u"This Electron app installs its own updates. Open it to update."_s));
        m_world.expectRestore(
            id, restoreManual(u"It updates itself, but there's no download Corvanta can verify."_s));
    }

    void ledger()
    {
        const QString id = u"com.ledgerly.ledger"_s;
        AppBundle app = bundle(u"Ledger"_s, id, u"6.0"_s, u"600"_s);
        app.appStoreReceipt = true;
        m_world.addLookup(id,
            lookupResult(id, u"Ledger"_s, u"6.1"_s, 1480000001,
                u"\u2022 Budgets roll over\n\u2022 Faster sync"_s, u"Ledgerly Ltd"_s));

        install(app, Signature::developerID(u"LEDGERLY01"_s, u"Ledgerly Ltd"_s),
            u"From the App Store (it has a receipt); the lookup service knows a newer version"_s,
            update(appStore, u"6.1"_s), notOffered(u"Mac App Store updates install through the App Store"_s));
        m_world.expectRestore(
            id, { ExpectedRestore::Outcome::appStore, std::nullopt, std::nullopt, std::nullopt });
    }

    void chess()
    {
        install(bundle(u"Chess"_s, u"com.apple.Chess"_s, u"3.18"_s, u"3.18"_s, 0), Signature::adHoc(),
            u"An Apple app: macOS Software Update keeps it current"_s,
            cantVerify(u"Apple app with no App Store receipt; macOS Software Update keeps it current"_s));
    }

    void widgetry()
    {
        install(bundle(u"Widgetry"_s, u"com.widgetry.widgetry"_s, u"1.0"_s, u"1"_s),
            Signature::developerID(u"WIDGETRY01"_s, u"Widgetry"_s), u"No update source knows it"_s,
            cantVerify(
                u"No update source: no App Store receipt, Sparkle feed, Homebrew cask, GitHub repository or "
                u"Electron feed"_s));
        m_world.expectRestore(u"com.widgetry.widgetry"_s, restoreManual(nothingFound));
    }

    WorldBuilder& m_world;
    QDateTime m_now;
};

} // namespace

void addSampleApps(WorldBuilder& world)
{
    Samples(world).all();
}

} // namespace corvanta::demo
