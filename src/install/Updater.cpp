#include "install/Updater.h"

#include "base/Error.h"
#include "discovery/InstalledApp.h"
#include "discovery/Scanner.h"
#include "discovery/Version.h"
#include "install/FileTree.h"
#include "install/StagingFolder.h"
#include "platform/CodeSigning.h"
#include "sources/Net.h"
#include "sources/Release.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// version, else build, else "unknown"
QString versionText(const std::optional<QString>& version, const std::optional<QString>& build)
{
    if (version && !version->isEmpty())
        return *version;
    if (build && !build->isEmpty())
        return *build;
    return u"unknown"_s;
}

qint64 sizeOnDisk(const QString& file)
{
    struct stat st { };
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        throw SystemError::fromErrno(u"Can't read the attributes of "_s + file);
    return qint64(st.st_size);
}

const QString agreementNote = QStringLiteral(
    "The disk image came with the developer's license agreement, which Corvanta accepted to open it: the "
    "developer's license terms apply to this app.");

} // namespace

QCoro::Task<QStringList> Updater::install(InstalledApp app, Release release, PhaseCallback phase) const
{
    const QString& name = app.name;
    const auto report = [phase](const InstallPhase& now) {
        if (phase)
            phase(now);
    };

    // Before anything is downloaded.
    if (!corvanta::canInstall(release.kind) || !release.download)
        throw UpdateError(u"%1 doesn't offer a download Corvanta can install."_s.arg(label(release.kind)));
    const Download download = *release.download;
    const auto installed = files::realPath(app.url.toLocalFile());
    if (!installed || !installed->startsWith(m_applications + u'/'))
        throw UpdateError(u"%1 isn't inside %2."_s.arg(name, m_applications));
    if (!running(app).isEmpty())
        throw UpdateError(u"%1 is running. Quit it first."_s.arg(name));
    if (app.edKey && !download.edSignature)
        throw UpdateError(u"%1 only accepts EdDSA-signed updates, and this one isn't signed."_s.arg(name));
    const CodeSigning& codeSigning = m_services.codeSigning;
    const QString installedPath = *installed;
    // Every task is made in a statement of its own and then awaited: GCC 12
    // destroys temporaries of a co_await expression twice.
    auto reading = blocking([&codeSigning, installedPath] {
        const SigningInformation signing = Scanner::signing(QUrl::fromLocalFile(installedPath), codeSigning);
        return signing.team ? codeSigning.designatedRequirement(installedPath) : std::nullopt;
    });
    const std::optional<QString> requirement = co_await std::move(reading);
    if (!app.edKey && !requirement) {
        throw UpdateError(
            u"%1 isn't signed by a developer, so Corvanta can't confirm the download is genuine. "
            u"Download it from its website."_s.arg(name));
    }

    // Private, locked while this install lives, and gone on every path out;
    // what a killed install left in the temporary folder goes first.
    auto sweepingWork = blocking([] { StagingFolder::sweep(QDir::tempPath(), StagingFolder::workPrefix); });
    co_await std::move(sweepingWork);
    const StagingFolder work(QDir::tempPath(), StagingFolder::workPrefix);
    auto transfer = downloadInto(work.path(), download, report);
    const Downloaded file = co_await std::move(transfer);

    report(InstallPhase::verifying());
    auto verifying = blocking([file, app, release] { return checkDownload(file, app, release); });
    QStringList log = co_await std::move(verifying);

    // Unpacked beside the installed app, in a private staging folder that
    // crashed installs may have left before: the tree verified below is the
    // very one the exchange puts in place.
    const QString parent = QFileInfo(installedPath).absolutePath();
    auto sweeping = blocking([this, parent] {
        // An old copy a killed update left before it reached the Trash goes there now.
        const auto trash = [this](const QString& old) { moveToTrash(old); };
        StagingFolder::sweep(m_applications, StagingFolder::stagingPrefix, trash);
        if (parent != m_applications)
            StagingFolder::sweep(parent, StagingFolder::stagingPrefix, trash);
    });
    co_await std::move(sweeping);
    // Owned by this frame alone, so it goes exactly when the install ends.
    std::optional<StagingFolder> staging;
    try {
        staging.emplace(parent);
    } catch (...) {
        // The first change beside the app: where macOS or ownership says no.
        std::rethrow_exception(UpdateError::from(std::current_exception(), name));
    }
    const QString bundleID = app.bundleID;
    const QString stagingPath = staging->path();
    const QString fileName = QFileInfo(installedPath).fileName();
    auto unpacking = blocking([this, file, stagingPath, bundleID, fileName] {
        const Extracted found = extract(file.path, stagingPath, bundleID);
        return Extracted { stage(found.app, stagingPath, fileName), found.agreement };
    });
    const Extracted extracted = co_await std::move(unpacking);
    if (extracted.agreement)
        log.append(agreementNote);
    auto checking
        = blocking([this, extracted, app, requirement] { return checkApp(extracted.app, app, requirement); });
    log += co_await std::move(checking);

    report(InstallPhase::installing());
    if (!running(app).isEmpty())
        throw UpdateError(u"%1 was opened again. Quit it and retry."_s.arg(name));
    auto swapping = blocking([this, extracted, installedPath] { return swap(extracted.app, installedPath); });
    log.append(co_await std::move(swapping));
    co_return log;
}

QStringList Updater::checkDownload(const Downloaded& file, const InstalledApp& app, const Release& release)
{
    const Download& download = *release.download;
    QStringList log;
    const qint64 size = sizeOnDisk(file.path);
    if (size < 1)
        throw UpdateError(u"The download is empty."_s);
    if (download.size && *download.size >= 1) {
        if (size != *download.size) {
            throw UpdateError(
                u"The download is %1 bytes but should be %2. It may be incomplete or corrupted."_s.arg(
                    QString::number(size), QString::number(*download.size)));
        }
        log.append(u"Size matches: %1 bytes"_s.arg(size));
    } else {
        log.append(u"Size: %1 bytes (the source doesn't state one)"_s.arg(size));
    }
    if (download.sha256) {
        if (sha256(file) != download.sha256->toLower()) {
            throw UpdateError(
                u"SHA-256 checksum mismatch. The download is corrupted or not the file the source published."_s);
        }
        log.append(u"SHA-256 matches the source"_s);
    }
    if (app.edKey) {
        switch (checkEdDSA(*app.edKey, download.edSignature.value_or(QString()), file.path)) {
        case EdDSA::malformed:
            throw UpdateError(u"The EdDSA key or signature is malformed."_s);
        case EdDSA::mismatch:
            throw UpdateError(
                u"EdDSA signature doesn't match %1's public key. The download is corrupted or was "
                u"tampered with."_s.arg(app.name));
        case EdDSA::valid:
            log.append(u"EdDSA signature valid for %1's public key"_s.arg(app.name));
            break;
        }
    } else if (download.edSignature) {
        log.append(u"EdDSA signature present, but %1 has no public key to check it against"_s.arg(app.name));
    }
    return log;
}

std::optional<QString> Updater::validSignature(
    const QString& app, std::optional<QString>* revocationNote) const
{
    const CodeSigning& codeSigning = m_services.codeSigning;
    const ValidityResult validity = codeSigning.checkValidity(app, ValidityFlags::installer);
    if (validity.status == SigningStatus::staticCodeNotFound)
        throw UpdateError(u"The new version isn't code signed."_s);
    if (!validity.isValid()) {
        throw UpdateError(u"The new version's code signature is invalid: "_s
            + validity.message.value_or(u"error %1"_s.arg(validity.status)) + u'.');
    }
    if (revocationNote)
        *revocationNote = validity.revocationNote;
    return Scanner::signing(QUrl::fromLocalFile(app), codeSigning).team;
}

QStringList Updater::checkApp(
    const QString& newApp, const InstalledApp& app, const std::optional<QString>& requirement) const
{
    const CodeSigning& codeSigning = m_services.codeSigning;
    QStringList log;
    // Valid against the requirement means valid, so one pass over the bundle
    // does for both checks; only a refusal checks the signature alone, to
    // tell which of the two failed.
    ValidityResult meets;
    if (requirement)
        meets = codeSigning.checkValidity(newApp, ValidityFlags::installer, requirement);
    std::optional<QString> revocationNote = meets.revocationNote;
    std::optional<QString> newTeam;
    if (!requirement || !meets.isValid())
        newTeam = validSignature(newApp, &revocationNote);
    // Revocation couldn't be checked, and the platform lets that pass: say so.
    if (revocationNote)
        log.append(*revocationNote);
    if (requirement) {
        if (meets.status == SigningStatus::staticCodeNotFound)
            throw UpdateError(u"The new version isn't code signed."_s);
        if (!meets.isValid()) {
            throw UpdateError(
                u"The download isn't signed by the developer of the installed %1 (it doesn't meet "
                u"the installed app's designated requirement; the download is signed by %2). "
                u"Refusing to install."_s.arg(app.name, newTeam.value_or(u"no developer"_s)));
        }
        log.append(
            u"Code signature valid and meets the installed app's designated requirement (team %1)"_s.arg(
                app.team.value_or(u"?"_s)));
    } else {
        log.append(
            u"Code signature valid; the installed app is ad-hoc signed, so its EdDSA key vouched for the "
            u"download"_s);
    }

    const QUrl url = QUrl::fromLocalFile(newApp);
    const auto fresh = Scanner::read(url, QUrl::fromLocalFile(QFileInfo(newApp).absolutePath()), codeSigning);
    if (!fresh || fresh->bundleID != app.bundleID)
        throw UpdateError(u"The download contains a different app, not %1."_s.arg(app.bundleID));
    const QString newVersion = versionText(fresh->version, fresh->build);
    const QString oldVersion = versionText(app.version, app.build);
    if (Version::isNewer({ app.version, app.build }, { fresh->version, fresh->build }) != true) {
        throw UpdateError(
            u"The download is version %1, not newer than the installed %2. Refusing to downgrade."_s.arg(
                newVersion, oldVersion));
    }
    const std::vector<std::uint32_t> architectures = codeSigning.architectures(newApp);
    if (std::find(architectures.begin(), architectures.end(), codeSigning.hostCpuType())
        == architectures.end())
        throw UpdateError(u"The download doesn't include a build for this Mac's processor."_s);
    log.append(u"Bundle %1 %2 is newer than %3"_s.arg(fresh->bundleID, newVersion, oldVersion));
    return log;
}

} // namespace corvanta
