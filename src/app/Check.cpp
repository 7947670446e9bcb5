#include "app/Commands.h"
#include "discovery/Scanner.h"
#include "model/Prefs.h"
#include "platform/linux/LinuxHostInfo.h"
#include "sources/BrewIndex.h"
#include "sources/Checker.h"
#include "sources/Net.h"
#include "sources/Verdict.h"

#include <algorithm>
#include <iterator>
#include <variant>

#include <QCoro/QCoroFuture>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Teams play no part in a check, so the bundles' executables aren't read.
class NoSignatures : public CodeSigning {
public:
    SigningInformation signing(const QString&) const override { return {}; }
};

struct Checked {
    InstalledApp app;
    std::vector<Attempt> attempts;
    std::optional<Release> release;
    Status status;
};

QString installedLabel(const InstalledApp& app)
{
    return app.version.value_or(app.build.value_or(u"unknown"_s));
}

// One sentence saying where the app stands, as the status card words it.
QString statusText(const Checked& checked)
{
    switch (checked.status.kind) {
    case Status::Kind::update:
        return installedLabel(checked.app) + u" \u2192 "_s + checked.release->label() + u" from "_s
            + label(checked.release->kind) + u'.';
    case Status::Kind::upToDate:
        return installedLabel(checked.app) + u" is current. The newest version "_s
            + label(checked.release->kind) + u" lists is "_s + checked.release->label() + u'.';
    case Status::Kind::checking:
        return u"Looking for the newest version\u2026"_s;
    case Status::Kind::cantVerify:
    case Status::Kind::ignored:
        break;
    }
    return checked.status.text;
}

QString headline(Status::Kind kind)
{
    switch (kind) {
    case Status::Kind::update:
        return u"Update available"_s;
    case Status::Kind::upToDate:
        return u"Up to date"_s;
    case Status::Kind::cantVerify:
        return u"Can't verify"_s;
    case Status::Kind::ignored:
        return u"Ignored"_s;
    case Status::Kind::checking:
        break;
    }
    return u"Checking"_s;
}

QJsonObject appJson(const Checked& checked)
{
    QJsonArray attempts;
    for (const Attempt& attempt : checked.attempts)
        attempts.append(toJson(attempt));
    return {
        { u"bundleID"_s, checked.app.bundleID },
        { u"path"_s, checked.app.url.toLocalFile() },
        { u"status"_s, checked.status.name() },
        { u"statusText"_s, statusText(checked) },
        { u"release"_s, checked.release ? QJsonValue(toJson(*checked.release)) : QJsonValue() },
        { u"attempts"_s, attempts },
    };
}

QString releaseLine(const Release& release)
{
    QString line = label(release.kind) + u": "_s + release.label();
    if (release.version && release.build)
        line += u" (build "_s + *release.build + u')';
    if (release.download) {
        line += u", download "_s + release.download->url.toString();
        if (release.download->size)
            line += u" ("_s + QString::number(*release.download->size) + u" bytes)"_s;
    }
    if (release.storeURL)
        line += u", store "_s + release.storeURL->toString();
    if (release.ref)
        line += u", ref "_s + *release.ref;
    return line;
}

QString appText(const Checked& checked)
{
    const InstalledApp& app = checked.app;
    QString text = app.name + u"  "_s + app.bundleID + u"  "_s + installedLabel(app);
    if (app.version && app.build)
        text += u" ("_s + *app.build + u')';
    text += u"\n  "_s + headline(checked.status.kind) + u": "_s + statusText(checked) + u'\n';
    if (checked.release)
        text += u"  Release from "_s + releaseLine(*checked.release) + u'\n';
    for (const Attempt& attempt : checked.attempts) {
        QString line
            = u"    "_s + label(attempt.kind).leftJustified(16) + attempt.outcomeName().leftJustified(9);
        if (attempt.found)
            line += u"found "_s + *attempt.found;
        if (const std::optional<QString> why = attempt.outcomeText())
            line += *why;
        if (attempt.url)
            line += u"  <"_s + *attempt.url + u'>';
        text += line + u'\n';
    }
    return text;
}

// Where to look and whom to ask, from --sandbox and --mock.
struct Options {
    QList<QUrl> folders;
    QString cache; // the cask index's folder
    Endpoints endpoints;
    QUrl githubWeb = corvanta::githubWeb;
};

// The options, or the problem with the arguments.
std::variant<Options, QString> options(const CliContext& context)
{
    const Launch launch = context.launch();
    QStringList rest = context.arguments;
    const auto take = [&](const QString& flag) -> std::optional<QString> {
        const std::optional<QString> value = launch.value(flag);
        if (value) {
            rest.removeOne(flag);
            rest.removeOne(*value);
        }
        return value;
    };
    const std::optional<QString> sandbox = take(u"--sandbox"_s);
    const std::optional<QString> mock = take(u"--mock"_s);
    if ((launch.has(u"--sandbox") && !sandbox) || (launch.has(u"--mock") && !mock))
        return u"--sandbox needs a folder and --mock a URL."_s;
    if (!rest.isEmpty())
        return u"check takes only --sandbox DIR, --mock URL and --json."_s;

    Options result;
    if (mock) {
        const QUrl base(*mock, QUrl::StrictMode);
        if (!base.isValid() || (base.scheme() != u"http" && base.scheme() != u"https")
            || base.host().isEmpty())
            return u"--mock needs an http or https URL."_s;
        result.endpoints = Endpoints::mock(base);
        // The mock plays GitHub's web pages too, for electron-updater's github provider.
        result.githubWeb = base;
    }
    if (sandbox) {
        const QFileInfo folder(*sandbox);
        result.folders << QUrl::fromLocalFile(folder.absoluteFilePath());
        result.cache = folder.absoluteDir().filePath(u"Caches"_s);
    } else {
        result.folders << QUrl::fromLocalFile(u"/Applications"_s)
                       << QUrl::fromLocalFile(QDir::home().filePath(u"Applications"_s));
        result.cache = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
                           .filePath(u"com.brenmoral.corvanta"_s);
    }
    return result;
}

// Every scanned app in scan order: ignored ones as a refresh marks them,
// the others with their results and status.
std::vector<Checked> assemble(const std::vector<InstalledApp>& apps, const std::vector<CheckedApp>& results,
    const QStringList& ignoredApps, const QMap<QString, QString>& ignoredVersions)
{
    QHash<QString, const CheckedApp*> byPath;
    for (const CheckedApp& result : results)
        byPath.insert(result.app.url.toString(), &result);
    std::vector<Checked> checked;
    for (const InstalledApp& app : apps) {
        Checked entry { app, {}, {}, Status::ignored(u"You're ignoring this app, so it isn't checked"_s) };
        if (const CheckedApp* result = byPath.value(app.url.toString())) {
            entry.attempts = result->attempts;
            entry.release = result->release;
            entry.status = Verdict::status(app, entry.release, entry.attempts, ignoredApps, ignoredVersions);
        }
        checked.push_back(std::move(entry));
    }
    return checked;
}

QString report(const std::vector<Checked>& checked, bool json)
{
    if (json) {
        QJsonArray array;
        for (const Checked& entry : checked)
            array.append(appJson(entry));
        return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    }
    QString text;
    int updates = 0;
    for (const Checked& entry : checked) {
        text += appText(entry) + u'\n';
        updates += entry.status.kind == Status::Kind::update ? 1 : 0;
    }
    return text + (checked.size() == 1 ? u"1 app"_s : u"%1 apps"_s.arg(checked.size())) + u", "_s
        + (updates == 1 ? u"1 update"_s : u"%1 updates"_s.arg(updates)) + u'\n';
}

} // namespace

QCoro::Task<int> commands::check(CliContext& context)
{
    // The coroutine only sequences the steps: GCC 12 mishandles some
    // temporaries inside coroutine bodies, so the work sits in plain functions.
    std::variant<Options, QString> parsed = options(context);
    if (const QString* problem = std::get_if<QString>(&parsed))
        co_return context.usage(*problem);
    const Options setup = std::get<Options>(std::move(parsed));

    auto scanning = QtConcurrent::run([setup] {
        const NoSignatures codeSigning;
        return Scanner::scan(setup.folders, codeSigning, setup.githubWeb);
    });
    const std::vector<InstalledApp> apps = co_await scanning;

    const std::unique_ptr<Prefs> prefs = Prefs::open(context.launch());
    std::vector<InstalledApp> toCheck;
    std::copy_if(apps.begin(), apps.end(), std::back_inserter(toCheck),
        [&](const InstalledApp& app) { return !prefs->ignoredApps().contains(app.bundleID); });

    Net net;
    const LinuxHostInfo host;
    BrewIndex brew(net, appendPath(setup.endpoints.brew, u"api/cask.json"_s), setup.cache, host);
    const Checker checker(net, setup.endpoints, brew, MacFacts::of(host));
    const std::vector<CheckedApp> results = co_await checker.checkAll(std::move(toCheck), 8);

    context.out << report(
        assemble(apps, results, prefs->ignoredApps(), prefs->ignoredVersions()), context.json);
    co_return 0;
}

} // namespace corvanta
