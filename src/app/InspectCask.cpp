#include "app/Commands.h"
#include "platform/linux/LinuxHostInfo.h"
#include "sources/BrewIndex.h"
#include "sources/CheckError.h"
#include "sources/Net.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The host this build stands for, with the system version the command asks about.
class AskedHost : public HostInfo {
public:
    explicit AskedHost(std::optional<SystemVersion> version)
        : m_version(version.value_or(m_linux.systemVersion()))
    {
    }
    SystemVersion systemVersion() const override { return m_version; }
    bool isAppleSilicon() const override { return m_linux.isAppleSilicon(); }

private:
    LinuxHostInfo m_linux;
    SystemVersion m_version;
};

QJsonValue orNull(const std::optional<QString>& text)
{
    return text ? QJsonValue(*text) : QJsonValue();
}

QJsonObject caskJson(const Cask& cask)
{
    return {
        { u"token"_s, cask.token },
        { u"version"_s, cask.version },
        { u"url"_s, cask.url ? QJsonValue(cask.url->toString(QUrl::FullyEncoded)) : QJsonValue() },
        { u"sha256"_s, orNull(cask.sha256) },
        { u"homepage"_s, orNull(cask.homepage) },
        { u"apps"_s, QJsonArray::fromStringList(cask.apps) },
        { u"bundleIDs"_s, QJsonArray::fromStringList(cask.bundleIDs) },
        { u"pkg"_s, orNull(cask.pkg) },
        { u"zap"_s, QJsonArray::fromStringList(cask.zap) },
        { u"githubRepo"_s, orNull(cask.githubRepo()) },
    };
}

} // namespace

QCoro::Task<int> commands::inspectCask(CliContext& context)
{
    const Launch launch = context.launch();
    const std::optional<QString> bundleID = launch.value(u"--bundle-id");
    const std::optional<QString> fileName = launch.value(u"--file-name");
    const std::optional<QString> macOS = launch.value(u"--macos");
    QStringList positional = context.arguments;
    for (const auto& [flag, value] : { std::pair { u"--bundle-id"_s, bundleID },
             std::pair { u"--file-name"_s, fileName }, std::pair { u"--macos"_s, macOS } }) {
        if (value) {
            positional.removeAt(positional.indexOf(flag));
            positional.removeAt(positional.indexOf(*value));
        }
    }
    if (positional.size() != 1 || !bundleID || !fileName)
        co_return context.usage(u"inspect cask takes an index URL or file, --bundle-id and --file-name."_s);
    std::optional<SystemVersion> version;
    if (macOS) {
        version = SystemVersion::parse(*macOS);
        if (!version)
            co_return context.usage(u"--macos takes a version such as 14.6.1."_s);
    }

    const AskedHost host(version);
    Net net;
    const QString argument = positional[0];
    const QUrl url(argument);
    const bool remote = url.scheme() == u"http" || url.scheme() == u"https";
    // No cache folder: diagnosing must not disturb the app's own copy.
    BrewIndex index(
        net, remote ? url : QUrl::fromLocalFile(QFileInfo(argument).absoluteFilePath()), std::nullopt, host);

    std::optional<Cask> cask;
    std::optional<Release> release;
    std::optional<QString> failure;
    std::optional<QString> releaseFailure;
    try {
        if (!remote) {
            QFile file(url.isLocalFile() ? url.toLocalFile() : argument);
            if (!file.open(QIODevice::ReadOnly))
                throw CheckError(u"Can't read "_s + file.fileName() + u": "_s + file.errorString());
            co_await index.adopt(file.readAll());
        }
        cask = co_await index.cask(*bundleID, *fileName);
        if (cask) {
            try {
                release = cask->release();
                release->ref = cask->token;
            } catch (const CheckError& error) {
                releaseFailure = error.description();
            }
        }
    } catch (const Error& error) {
        failure = error.description();
    }

    if (context.json) {
        QJsonObject document {
            { u"index"_s, index.url().toString(QUrl::FullyEncoded) },
            { u"variationKey"_s, orNull(index.variationKey()) },
            { u"casks"_s, qint64(index.catalog()->casks.size()) },
            { u"cask"_s, cask ? QJsonValue(caskJson(*cask)) : QJsonValue() },
            { u"release"_s, release ? QJsonValue(toJson(*release)) : QJsonValue() },
            { u"error"_s, orNull(failure ? failure : releaseFailure) },
        };
        context.out << QJsonDocument(document).toJson(QJsonDocument::Indented);
        co_return (failure || !cask) ? 1 : 0;
    }

    if (failure) {
        context.err << *failure << u'\n';
        co_return 1;
    }
    context.out << index.catalog()->casks.size() << u" casks; variation "_s
                << index.variationKey().value_or(u"none"_s) << u'\n';
    if (!cask) {
        context.out << u"No cask installs "_s << *fileName << u'\n';
        co_return 1;
    }
    context.out << u"cask:     "_s << cask->token << u'\n';
    context.out << u"version:  "_s << cask->version << u'\n';
    context.out << u"url:      "_s << (cask->url ? cask->url->toString() : u"none"_s) << u'\n';
    context.out << u"sha256:   "_s << cask->sha256.value_or(u"none"_s) << u'\n';
    context.out << u"homepage: "_s << cask->homepage.value_or(u"none"_s) << u'\n';
    context.out << u"apps:     "_s << cask->apps.join(u", "_s) << u'\n';
    context.out << u"ids:      "_s << cask->bundleIDs.join(u", "_s) << u'\n';
    if (cask->pkg)
        context.out << u"pkg:      "_s << *cask->pkg << u'\n';
    context.out << u"GitHub:   "_s << cask->githubRepo().value_or(u"none"_s) << u'\n';
    if (releaseFailure)
        context.out << u"release:  "_s << *releaseFailure << u'\n';
    else
        context.out << u"release:  "_s << release->label()
                    << (release->download ? u""_s : u" (no download)"_s) << u'\n';
    co_return 0;
}

} // namespace corvanta
