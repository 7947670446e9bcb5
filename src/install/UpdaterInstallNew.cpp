#include "account/LibraryApp.h"
#include "base/Error.h"
#include "discovery/Scanner.h"
#include "install/StagingFolder.h"
#include "install/Updater.h"
#include "package/PackageConsent.h"
#include "platform/CodeSigning.h"
#include "platform/Gatekeeper.h"
#include "sources/Net.h"
#include "sources/Release.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QString libraryRequirement(const QString& team)
{
    return u"anchor apple generic and certificate leaf[subject.OU] = \""_s + team + u'"';
}

const QString developerIdRequirement
    = u"anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] "
      u"exists and certificate leaf[field.1.2.840.113635.100.6.1.13] exists"_s;

bool isTeamID(const QString& team)
{
    static const QRegularExpression pattern(u"^[A-Z0-9]{10}$"_s);
    return pattern.match(team).hasMatch();
}

// L4 to L7: the downloaded file against what the source published.
void checkLibraryDownload(const Downloaded& downloaded, const LibraryApp& app, const Download& download)
{
    const QString& file = downloaded.path;
    struct stat st { };
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        throw SystemError::fromErrno(u"Can't read the attributes of "_s + file);
    const qint64 size = st.st_size;
    if (size < 1)
        throw UpdateError(u"The download is empty."_s);
    if (download.size && *download.size >= 1 && size != *download.size) {
        throw UpdateError(u"The download is %1 bytes but should be %2."_s.arg(
            QString::number(size), QString::number(*download.size)));
    }
    if (download.sha256 && Updater::sha256(downloaded) != download.sha256->toLower())
        throw UpdateError(u"SHA-256 checksum mismatch: the download isn't the file the source published."_s);
    if (app.edKey
        && Updater::checkEdDSA(*app.edKey, download.edSignature.value_or(QString()), file)
            != Updater::EdDSA::valid)
        throw UpdateError(u"EdDSA signature doesn't match %1's key."_s.arg(app.name));
}

const QString agreementNote = QStringLiteral(
    "The disk image came with the developer's license agreement, which Corvanta accepted to open it: the "
    "developer's license terms apply to this app.");

} // namespace

QString Updater::notarizedDeveloperID(const QString& app, const QString& name) const
{
    const CodeSigning& codeSigning = m_services.codeSigning;
    const ValidityResult validity
        = codeSigning.checkValidity(app, ValidityFlags::installer, developerIdRequirement);
    if (validity.status == SigningStatus::staticCodeNotFound)
        throw UpdateError(u"The new version isn't code signed."_s);
    const std::optional<QString> team = Scanner::signing(QUrl::fromLocalFile(app), codeSigning).team;
    if (!validity.isValid() || !team) {
        throw UpdateError(
            u"%1 isn't signed with a Developer ID, and your other Mac has no developer on record to "
            u"compare it with. Refusing to install."_s.arg(name));
    }
    const QString assessment = m_services.gatekeeper
        ? m_services.gatekeeper->assess(app, Gatekeeper::Assessment::execute).text
        : QString();
    // The verdict's exit status doesn't count: only a notarization it names.
    if (!assessment.split(QRegularExpression(u"\r\n|\r|\n"_s)).contains(u"source=Notarized Developer ID"_s))
        throw UpdateError(
            u"%1 is signed by team %2 but isn't notarized by Apple. Refusing to install."_s.arg(name, *team));
    return *team;
}

QCoro::Task<FirstInstall> Updater::installNew(
    LibraryApp app, Release release, ConsentCallback consent, PhaseCallback phase) const
{
    const QString name = app.name;
    const auto report = [phase](const InstallPhase& now) {
        if (phase)
            phase(now);
    };
    if (!release.download)
        throw UpdateError(u"There's nothing to download for %1."_s.arg(name));
    const Download download = *release.download;
    if (app.edKey && !download.edSignature)
        throw UpdateError(
            u"%1 only accepts EdDSA-signed updates, and this download isn't signed."_s.arg(name));
    const CodeSigning& codeSigning = m_services.codeSigning;
    if (app.team && (!isTeamID(*app.team) || !codeSigning.compilesRequirement(libraryRequirement(*app.team))))
        throw UpdateError(u"The library's Team ID for %1 isn't valid."_s.arg(name));

    // Every task is made in a statement of its own and then awaited: GCC 12
    // destroys temporaries of a co_await expression twice.
    auto sweepingWork = blocking([] { StagingFolder::sweep(QDir::tempPath(), StagingFolder::workPrefix); });
    co_await std::move(sweepingWork);
    const StagingFolder work(QDir::tempPath(), StagingFolder::workPrefix);
    auto transfer = downloadInto(work.path(), download, report);
    const Downloaded file = co_await std::move(transfer);

    report(InstallPhase::verifying());
    auto verifying = blocking([file, app, download] { checkLibraryDownload(file, app, download); });
    co_await std::move(verifying);

    const QString workPath = work.path();
    const std::optional<QString> packageName = download.package;
    auto finding
        = blocking([this, file, packageName, workPath] { return package(file.path, packageName, workPath); });
    if (const std::optional<QString> found = co_await std::move(finding)) {
        auto installing = installPackage(app, release, *found, consent, phase);
        co_return co_await std::move(installing);
    }

    // Unpacked and checked in a staging folder inside the applications
    // folder, so the verified tree is the very one the placement renames.
    auto sweeping = blocking([this] {
        StagingFolder::sweep(
            m_applications, StagingFolder::stagingPrefix, [this](const QString& old) { moveToTrash(old); });
    });
    co_await std::move(sweeping);
    std::optional<StagingFolder> staging;
    try {
        staging.emplace(m_applications);
    } catch (...) {
        std::rethrow_exception(UpdateError::from(std::current_exception(), name));
    }
    const QString stagingPath = staging->path();
    const QString bundleID = app.id;
    auto unpacking = blocking([this, file, stagingPath, bundleID] {
        const Extracted found = extract(file.path, stagingPath, bundleID);
        return Extracted { stage(found.app, stagingPath, QFileInfo(found.app).fileName()), found.agreement };
    });
    const Extracted extracted = co_await std::move(unpacking);

    auto checking = blocking([this, extracted, app] {
        const std::optional<QString> newTeam = validSignature(extracted.app);
        if (!app.team)
            return notarizedDeveloperID(extracted.app, app.name);
        const ValidityResult meets = m_services.codeSigning.checkValidity(extracted.app,
            ValidityFlags::installer & ~ValidityFlags::enforceRevocationChecks,
            libraryRequirement(*app.team));
        if (meets.status == SigningStatus::staticCodeNotFound)
            throw UpdateError(u"The new version isn't code signed."_s);
        if (!meets.isValid()) {
            throw UpdateError(
                u"Team ID mismatch: %1 on your other Mac was signed by %2, this download by %3. "
                u"Refusing to install."_s.arg(app.name, *app.team, newTeam.value_or(u"no team"_s)));
        }
        return *app.team;
    });
    const QString team = co_await std::move(checking);
    auto reading = blocking([this, extracted] {
        return Scanner::read(QUrl::fromLocalFile(extracted.app),
            QUrl::fromLocalFile(QFileInfo(extracted.app).absolutePath()), m_services.codeSigning);
    });
    const std::optional<InstalledApp> fresh = co_await std::move(reading);
    if (!fresh || fresh->bundleID != app.id)
        throw UpdateError(
            u"The download contains a different app, not %1. Refusing to install."_s.arg(app.id));

    report(InstallPhase::installing());
    auto placing = place(extracted.app, name);
    const QString placed = co_await std::move(placing);
    co_return FirstInstall { placed, team,
        extracted.agreement ? std::optional(agreementNote) : std::nullopt };
}

QCoro::Task<FirstInstall> Updater::installFirst(
    LibraryApp app, QList<Release> releases, ConsentCallback consent, PhaseCallback phase) const
{
    if (releases.isEmpty())
        throw UpdateError(u"There's nothing to download for %1."_s.arg(app.name));
    QStringList failures;
    for (const Release& release : std::as_const(releases)) {
        try {
            auto installing = installNew(app, release, consent, phase);
            co_return co_await std::move(installing);
        } catch (const UpdateError& error) {
            if (error.final() || error.needsPermission())
                throw;
            failures.append(releases.size() > 1 ? label(release.kind) + u": "_s + error.description()
                                                : error.description());
        } catch (const Error& error) {
            failures.append(releases.size() > 1 ? label(release.kind) + u": "_s + error.description()
                                                : error.description());
        }
    }
    throw UpdateError(failures.join(u'\n'));
}

} // namespace corvanta
