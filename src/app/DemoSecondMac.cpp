#include "app/DemoSecondMac.h"

#include "account/Account.h"
#include "app/RestoreText.h"
#include "base/Error.h"
#include "codesign/PortableCodeSigning.h"
#include "model/AppItem.h"
#include "model/LibraryItem.h"
#include "model/Prefs.h"
#include "model/Prompts.h"
#include "model/Store.h"
#include "package/PackageTools.h"
#include "package/PortableGatekeeper.h"
#include "platform/SecretStore.h"
#include "sources/Net.h"

#include <map>

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The demo account's session lives in memory only, never in the user's keychain.
class MemorySecrets : public SecretStore {
public:
    std::optional<QByteArray> read(const QString& service, const QString& account) override
    {
        const auto found = m_items.find({ service, account });
        return found == m_items.end() ? std::nullopt : std::optional(found->second);
    }
    bool write(const QString& service, const QString& account, const QByteArray& data) override
    {
        m_items[{ service, account }] = data;
        return true;
    }
    bool remove(const QString& service, const QString& account) override
    {
        m_items.erase({ service, account });
        return true;
    }

private:
    std::map<std::pair<QString, QString>, QByteArray> m_items;
};

const QString password = u"demo-password"_s;

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 1) + u" s"_s;
}

} // namespace

// One Mac's model and everything it is built on, destroyed model first.
struct SecondMac::Mac {
    Net net;
    std::unique_ptr<FixedHostInfo> host;
    std::unique_ptr<codesign::PortableCodeSigning> codeSigning;
    std::unique_ptr<Prefs> prefs;
    MemorySecrets secrets;
    std::unique_ptr<Prompts> prompts;
    std::unique_ptr<Gatekeeper> gatekeeper;
    std::optional<PackageTools> packageTools;
    std::unique_ptr<Store> store;
};

SecondMac::SecondMac(QTextStream& out, SecondMacSetup setup)
    : m_out(out)
    , m_setup(std::move(setup))
{
}

SecondMac::~SecondMac()
{
    finish();
}

std::optional<QString> SecondMac::unavailable()
{
    QString missing;
    if (demo::Emulators::installed(&missing))
        return std::nullopt;
    return u"The second act (a second Mac getting its apps back from the cloud library) is skipped because "_s
        + missing + u"; scripts/setup.sh --emulators installs the Firebase emulators it runs on."_s;
}

std::unique_ptr<SecondMac::Mac> SecondMac::open(const QString& applications, const QString& device,
    const QString& name, const QString& settingsFile, bool packages)
{
    auto mac = std::make_unique<Mac>();
    const Launch launch({ u"--sandbox"_s, applications, u"--mock"_s, m_setup.mock.toString(),
        u"--firebase-config"_s, m_emulators.configFile(), u"--device-id"_s, device });
    mac->host = std::make_unique<FixedHostInfo>(m_setup.macOS, m_setup.appleSilicon);
    mac->codeSigning = std::make_unique<codesign::PortableCodeSigning>(
        codesign::TrustAnchors::fromFolder(m_setup.world.anchors()),
        m_setup.appleSilicon ? codesign::cpu::arm64 : codesign::cpu::x86_64);
    auto settings = std::make_unique<QSettings>(settingsFile, QSettings::IniFormat);
    settings->clear();
    mac->prefs = std::make_unique<Prefs>(std::move(settings), launch);
    mac->prefs->setDeviceName(name);
    // Every question (an installer package's consent) is answered yes, and printed.
    mac->prompts = std::make_unique<FixedPrompts>(true, m_out);

    StoreServices services { mac->net, *mac->codeSigning, *mac->host, *mac->prefs };
    services.revealInSlices = false;
    services.secrets = &mac->secrets;
    services.environment = m_emulators.environment();
    QTextStream* out = &m_out;
    services.openURL
        = [out](const QUrl& url) { *out << "Open " << url.toString() << " to continue there.\n"; };
    if (packages) {
        const QString tickets = m_setup.mock.resolved(QUrl(u"tickets"_s)).toString();
        mac->gatekeeper = portableGatekeeper(gatekeeperSettings(m_setup.world.anchors(), tickets));
        mac->packageTools = PackageTools::forThisProgram(applications);
        mac->packageTools->program = m_setup.program;
        mac->packageTools->anchors = m_setup.world.anchors();
        mac->packageTools->ticketService = tickets;
        // The sandbox stands for /Applications: nothing runs as administrator.
        mac->packageTools->escalation.reset();
        services.gatekeeper = mac->gatekeeper.get();
        services.packageTools = &*mac->packageTools;
    }
    mac->store = std::make_unique<Store>(services, launch);
    mac->store->setPrompts(mac->prompts.get());
    return mac;
}

Store& SecondMac::secondMac()
{
    return *m_second->store;
}

bool SecondMac::stopping()
{
    return m_setup.stopRequested && m_setup.stopRequested();
}

QCoro::Task<bool> SecondMac::run()
{
    m_out << "\n== Second Mac: getting the apps back from the cloud library\n";
    QElapsedTimer timer;
    timer.start();
    QCoro::Task<> starting = m_emulators.start();
    co_await std::move(starting);
    m_out << u"Started the Authentication and Firestore emulators in %1 (%2 and %3).\n"_s.arg(
        seconds(timer.elapsed()), m_emulators.authentication().host(), m_emulators.firestore().host());
    m_out.flush();
    if (stopping())
        co_return false;

    if (!QDir().mkpath(applications()))
        throw Error(u"Couldn't create "_s + applications() + u'.');
    // The first Mac as the first act left it: its updates installed.
    m_first
        = open(m_setup.world.applications(), firstDevice, u"Demo Mac"_s, root() + u"/first-mac.ini"_s, false);
    Store& first = *m_first->store;
    if (!first.cloud())
        throw Error(
            u"Couldn't read the emulators' Firebase settings in "_s + m_emulators.configFile() + u'.');
    QCoro::Task<Session> signingUp = Auth::signUp(m_first->net, email, password, *first.cloud());
    const Session session = co_await std::move(signingUp);
    QCoro::Task<> scanning = first.refresh(false, false);
    co_await std::move(scanning);
    QCoro::Task<> syncingFirst = first.signedIn(session);
    co_await std::move(syncingFirst);
    if (first.syncError())
        throw Error(u"Couldn't sync the first Mac's library: "_s + *first.syncError());
    m_out << u"Signed up %1 on the Authentication emulator and synced the first Mac (\u201cDemo Mac\u201d, "
             u"device %2) after its updates: %3 apps in the library.\n"_s.arg(email, firstDevice)
                 .arg(first.library().size());
    if (stopping())
        co_return false;

    // The second Mac: an empty Applications folder, a device id of its own, the same account.
    m_second = open(applications(), secondDevice, u"Second Mac"_s, root() + u"/second-mac.ini"_s, true);
    Store& second = *m_second->store;
    QCoro::Task<> syncingSecond = second.signedIn(session);
    co_await std::move(syncingSecond);
    if (second.syncError())
        throw Error(u"Couldn't read the library on the second Mac: "_s + *second.syncError());
    m_out
        << u"The second Mac (\u201cSecond Mac\u201d, device %1) signed in with an empty Applications folder: %2\n"_s
               .arg(secondDevice, applications());
    printLibrary();
    if (stopping())
        co_return false;

    QList<LibraryItem*> missing;
    for (LibraryItem* item : second.library())
        missing << item;
    std::map<QString, QStringList> phases;
    // Watched for this run only: the rows outlive it in the window.
    QList<QMetaObject::Connection> watching;
    for (LibraryItem* item : std::as_const(missing)) {
        watching << QObject::connect(item, &LibraryItem::changed, item, [item, &phases] {
            QStringList& seen = phases[item->id()];
            const QString now = phaseName(item->phase());
            if (seen.isEmpty() || seen.last() != now)
                seen << now;
        });
    }
    m_out << u"\n== Restore all %1 apps onto the second Mac, one at a time\n"_s.arg(missing.size());
    m_out.flush();
    QCoro::Task<> restoring = second.restore(missing);
    co_await std::move(restoring);
    for (const QMetaObject::Connection& connection : std::as_const(watching))
        QObject::disconnect(connection);

    std::map<QString, QString> installedVersions;
    for (const AppItem* item : second.items())
        installedVersions[item->app().bundleID] = item->app().version.value_or(QString());
    int installed = 0;
    int refused = 0;
    int yours = 0;
    for (const LibraryItem* item : second.library()) {
        m_out << u"  "_s << item->app().name << u"  ("_s << item->id() << u")\n"_s;
        if (item->route())
            m_out << u"    route:   "_s << routeText(*item->route()) << u'\n';
        const InstallPhase::Kind kind = item->phase().kind;
        QString outcome;
        if (kind == InstallPhase::Kind::done) {
            ++installed;
            outcome = u"installed "_s + installedVersions[item->id()]
                + (item->team() ? u", team "_s + *item->team() : QString());
        } else if (kind == InstallPhase::Kind::failed || kind == InstallPhase::Kind::blocked) {
            ++refused;
            outcome = u"refused"_s;
        } else {
            ++yours;
            outcome = item->route() && item->route()->store() ? u"for the App Store"_s : u"for its website"_s;
        }
        m_out << u"    phases:  "_s << phases[item->id()].join(u" \u2192 "_s) << u'\n';
        m_out << u"    outcome: "_s << outcome << u'\n';
        if (item->note())
            m_out << u"    "_s << *item->note() << u'\n';
    }
    m_out << "\nNotices:\n  " << second.notice().value_or(u"none"_s) << '\n';
    if (second.syncError())
        m_out << "  " << *second.syncError() << '\n';
    m_out << '\n' << summary(installed, refused, yours) << '\n';
    m_out.flush();
    co_return !stopping();
}

void SecondMac::printLibrary()
{
    const Store& second = *m_second->store;
    m_out << u"\n== The library: %1 apps on %2 Macs\n"_s.arg(second.library().size())
                 .arg(second.devices().size());
    qsizetype width = 0;
    for (const LibraryItem* item : second.library())
        width = std::max(width, item->app().name.size());
    for (const LibraryItem* item : second.library()) {
        const LibraryApp& app = item->app();
        const auto entry = app.devices.find(firstDevice);
        const QString version = entry == app.devices.end() ? u"\u2014"_s : entry->second.version;
        m_out << u"  "_s << app.name.leftJustified(width + 2) << version.leftJustified(10)
              << app.team.value_or(u"no team"_s).leftJustified(12) << app.source.value_or(u"no source"_s)
              << u'\n';
    }
}

QString SecondMac::summary(int installed, int refused, int yours) const
{
    return u"Summary: the second Mac got %1 apps back, each verified before it was installed in %2; refused "
           u"%3; "
           u"%4 are left for the App Store or their website."_s.arg(installed)
               .arg(applications())
               .arg(refused)
               .arg(yours);
}

void SecondMac::finish()
{
    // The models first: nothing may write once the emulators are gone.
    m_second.reset();
    m_first.reset();
    m_emulators.stop();
}

} // namespace corvanta
