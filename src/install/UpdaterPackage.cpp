#include "account/LibraryApp.h"
#include "base/Error.h"
#include "discovery/Scanner.h"
#include "install/Updater.h"
#include "package/AppleScript.h"
#include "package/PackageCheck.h"
#include "package/PackageConsent.h"
#include "package/PackageSigner.h"
#include "package/PackageTools.h"
#include "package/RootCommand.h"
#include "package/Xar.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "platform/Gatekeeper.h"
#include "platform/UnpackLimits.h"
#include "sources/Release.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

bool isFolder(const QString& path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The file `name` directly in `folder`, else in each of its folders in
// name order; links are never followed, neither as the file nor on the way.
std::optional<QString> findPackage(const QString& folder, const QString& name)
{
    QStringList candidates { folder + u'/' + name };
    const QStringList entries = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& entry : entries) {
        if (isFolder(folder + u'/' + entry))
            candidates.append(folder + u'/' + entry + u'/' + name);
    }
    for (const QString& candidate : std::as_const(candidates)) {
        if (xar::isFlatPackage(candidate))
            return candidate;
    }
    return std::nullopt;
}

template<typename Body> void unpacking(Body body)
{
    try {
        body();
    } catch (const UnpackRefusal& error) {
        throw UpdateError(error.description());
    } catch (const DiskImageError& error) {
        throw UpdateError(error.description());
    } catch (const UpdateError&) {
        throw;
    } catch (const SystemError& error) {
        throw UpdateError(u"ditto failed: "_s + error.description());
    }
}

} // namespace

std::optional<QString> Updater::package(
    const QString& file, const std::optional<QString>& name, const QString& work) const
{
    const QString target = work + u"/package.pkg"_s;
    if (xar::isFlatPackage(file)) {
        if (!QFile::rename(file, target))
            throw SystemError(u"Can't move %1 to %2"_s.arg(file, target), EIO);
        return target;
    }
    if (!name || QFileInfo(*name).fileName() != *name || name->contains(u'/') || *name == u"."
        || *name == u".." || !name->endsWith(u".pkg"_s, Qt::CaseInsensitive))
        return std::nullopt;
    const auto kind = format(file);
    if (!kind)
        throw UpdateError(u"Unsupported download format. Corvanta installs from .pkg, .zip and .dmg only."_s);
    const auto take = [&](const QString& folder) {
        const std::optional<QString> found = findPackage(folder, *name);
        if (!found)
            throw UpdateError(u"The download doesn't contain the installer package %1."_s.arg(*name));
        unpacking([&] { m_services.ditto.copy(*found, target); });
    };
    if (*kind == Format::zip) {
        const QString unpacked = work + u"/unpacked"_s;
        unpacking([&] { m_services.ditto.extractZip(file, unpacked); });
        confine(unpacked);
        take(unpacked);
        return target;
    }
    DiskImages& images = m_services.diskImages;
    const QString mountPoint = work + u"/mount"_s;
    QString volume;
    unpacking([&] { volume = images.attach(file, mountPoint, images.hasLicenseAgreement(file)); });
    struct Detach {
        DiskImages& images;
        QString mountPoint;
        ~Detach() { images.detach(mountPoint); }
    } detach { images, mountPoint };
    take(volume);
    return target;
}

PackageSigner Updater::packageSigner(const QString& package) const
{
    if (!m_services.gatekeeper)
        return PackageSigner::parse(QString(), -1, QString(), -1);
    const ToolReport signature = m_services.gatekeeper->checkSignature(package);
    const ToolReport assessment = m_services.gatekeeper->assess(package, Gatekeeper::Assessment::install);
    return PackageSigner::parse(signature.text, signature.status, assessment.text, assessment.status);
}

QCoro::Task<FirstInstall> Updater::installPackage(
    LibraryApp app, Release release, QString package, ConsentCallback consent, PhaseCallback phase) const
{
    const QString name = app.name;
    if (!m_services.gatekeeper || !m_services.packageTools)
        throw UpdateError(
            u"Corvanta can't check and run installer packages here, so it can't install %1."_s.arg(name));
    const PackageTools tools = *m_services.packageTools;
    auto reading = blocking([this, package] { return packageSigner(package); });
    const PackageSigner signer = co_await std::move(reading);
    const QString team = checkPackage(signer, name, app.team);
    auto hashing = blocking([package] { return sha256(package); });
    const QString digest = co_await std::move(hashing);

    // Built before the user is asked: a path the script can't hold is
    // refused before any prompt, not after the user agreed.
    const ScriptTools script = tools.script();
    const QString command = rootCommand(package, digest, team, script.tempBase, false, script);

    const PackageConsent question { name, signer.leaf.value_or(QString()), team, signer.notarized,
        app.team.has_value(), release.download && release.download->sha256.has_value() };
    bool agreed = false;
    if (consent) {
        auto asking = consent(question);
        agreed = co_await std::move(asking);
    }
    if (!agreed)
        throw UpdateError(
            u"You chose not to run %1's installer. Nothing was installed."_s.arg(name), false, true);

    if (phase)
        phase(InstallPhase::installing());
    const QString prompt = u"Corvanta needs your administrator password to install "_s + name
        + u" with its installer package."_s;
    const QString appleScript = u"do shell script "_s + appleScriptLiteral(command) + u" with prompt "_s
        + appleScriptLiteral(prompt) + u" with administrator privileges"_s;
    auto running = blocking([appleScript, tools, name] {
        try {
            return runAppleScript(appleScript, tools.escalation);
        } catch (const AppleScriptError& error) {
            throw adminFailure(error, name);
        }
    });
    co_await std::move(running);

    const QString applications = tools.applications();
    const CodeSigning& codeSigning = m_services.codeSigning;
    auto finding = blocking([applications, &codeSigning, id = app.id]() -> std::optional<QString> {
        for (const InstalledApp& found : Scanner::scan({ QUrl::fromLocalFile(applications) }, codeSigning)) {
            if (found.bundleID == id)
                return found.url.toLocalFile();
        }
        return std::nullopt;
    });
    const std::optional<QString> installed = co_await std::move(finding);
    if (!installed || !QDir::cleanPath(*installed).startsWith(applications + u'/'))
        throw UpdateError(u"The installer finished, but %1 isn't in %2."_s.arg(name, applications));
    co_return FirstInstall { QDir::cleanPath(*installed), team, std::nullopt };
}

} // namespace corvanta
