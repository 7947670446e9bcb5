#pragma once

#include "install/InstallPhase.h"
#include "install/UpdateError.h"
#include "platform/Workspace.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

#include <QByteArray>
#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QException>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtConcurrentRun>

class QNetworkAccessManager;

namespace corvanta {

class CodeSigning;
class Gatekeeper;
struct LibraryApp;
struct PackageConsent;
struct PackageSigner;
struct PackageTools;
class DiskImages;
class Ditto;
class Net;
class Rename;
class Trash;
struct InstalledApp;
struct Download;
struct Release;

using PhaseCallback = std::function<void(const InstallPhase&)>;
using ProgressCallback = std::function<void(double)>;
// Asked before an installer package runs as root; true to go ahead.
using ConsentCallback = std::function<QCoro::Task<bool>(PackageConsent)>;

// The file a download saved, the length the server announced and the
// SHA-256 of the bytes saved, hashed as they arrived so that the file isn't
// read again for its checksum.
struct Downloaded {
    QString path;
    qint64 announced = -1; // -1 when the server announced none
    std::optional<QString> sha256; // 64 lower-case hexadecimal digits
};

// The app an unpacked download holds.
struct Extracted {
    QString app;
    bool agreement = false; // a disk image's licence agreement was accepted to open it
};

// What a first install put in place.
struct FirstInstall {
    QString app; // the installed app's path
    std::optional<QString> team; // the Team ID that passed, for the library to record
    std::optional<QString> note; // to show the user, e.g. an agreement accepted
};

// Exit status and merged output of a tool; status -1 when it couldn't start.
struct ToolOutput {
    int status = -1;
    QString text;
};

// Installs updates: downloads a release into a private work folder, checks
// it, unpacks it and swaps the new bundle in place of the installed one,
// moving the old copy to the Trash. One Updater per operation; it must
// outlive the tasks it starts.
class Updater {
public:
    // The platform services an install uses; owned by the composition root.
    struct Services {
        Net& net;
        Ditto& ditto;
        Rename& rename;
        Trash& trash;
        Workspace& workspace;
        DiskImages& diskImages;
        const CodeSigning& codeSigning;
        // Installer packages are checked and run only with both; without
        // them a package is refused.
        const Gatekeeper* gatekeeper = nullptr;
        const PackageTools* packageTools = nullptr;
    };

    enum class Format { zip, diskImage };
    enum class EdDSA { valid, mismatch, malformed };

    // `applications` is the folder the app lives in or goes into, resolved to
    // its real path ("<path> doesn't exist." when it can't be). With
    // `trash`, old copies go into that folder instead of the user's Trash.
    Updater(Services services, const QString& applications, std::optional<QString> trash = std::nullopt);

    const QString& applications() const { return m_applications; }
    const std::optional<QString>& trash() const { return m_trash; }

    // The update flow: checks, download, verification, unpacking and swap.
    // Returns the install log, one line per check that passed.
    QCoro::Task<QStringList> install(InstalledApp app, Release release, PhaseCallback phase) const;

    // ---- downloading --------------------------------------------------------

    // Streams `url` into a file inside the folder `into` and returns it.
    // Stops as soon as the server announces a length other than `expected`
    // or more than `maxDownloadSize`, or sends more than that. Failures are
    // UpdateErrors, except a failure to move the finished file (SystemError).
    static QCoro::Task<Downloaded> download(QNetworkAccessManager& session, QUrl url,
        std::optional<qint64> expected, QString into, ProgressCallback progress);
    // `download` into the work folder `folder`, its size as the release
    // states it (when it does), reporting the downloading phase.
    QCoro::Task<Downloaded> downloadInto(
        QString folder, Download download, std::function<void(const InstallPhase&)> report) const;

    static constexpr qint64 maxDownloadSize = 4LL * 1024 * 1024 * 1024;

    // The name a download is saved under: Content-Disposition's file name,
    // else the URL's last path component, else "download"; always a plain
    // name that stays inside its folder.
    static QString suggestedFileName(const QByteArray& contentDisposition, const QUrl& url);

    // "<temporary folder>/corvanta-<UUID>", created private (0700). Throws SystemError.
    static QString makeWorkFolder();

    // ---- verifying ----------------------------------------------------------

    // 64 lower-case hexadecimal digits; read errors throw SystemError.
    static QString sha256(const QString& file);
    // The digest the download took of its bytes, else `sha256` of its file.
    static QString sha256(const Downloaded& file);

    // Checks the Ed25519 signature (Base64) of the whole file against the
    // public key (Base64 of 32 raw bytes). Read errors throw SystemError.
    static EdDSA checkEdDSA(const QString& key, const QString& signature, const QString& file);

    // Zip archive or UDIF disk image, told by the file's bytes; none for
    // anything else. Read errors throw SystemError.
    static std::optional<Format> format(const QString& file);

    // The new app's own signature must be valid; returns its Team ID (none
    // for an ad-hoc signature). Throws UpdateError. `revocationNote` receives
    // why the certificates' revocation couldn't be checked, if it couldn't.
    std::optional<QString> validSignature(
        const QString& app, std::optional<QString>* revocationNote = nullptr) const;

    // ---- unpacking ----------------------------------------------------------

    // Unpacks the download into "extracted" inside `staging` (a disk image
    // through the mount point "mount" there, detached before this returns)
    // and finds the app.
    Extracted extract(const QString& file, const QString& staging, const QString& bundleID) const;

    // The app in `folder` (or one level down) with the bundle identifier,
    // else the first app found.
    static QString findApp(const QString& folder, const QString& bundleID);

    // Refuses a tree holding a symbolic link that leads outside it.
    static void confine(const QString& folder);

    // ---- swapping in --------------------------------------------------------

    // Moves the app unpacked in `staging` to `<staging>/<fileName>` and
    // checks the tree that will land: a real bundle folder whose Contents,
    // Info.plist, executable and seal are no links, links that stay inside
    // the app, no special files, no hard links leading out. Takes group and
    // other write, set-ID and sticky bits off everything. Returns the staged
    // app, the very tree that is verified and then renamed into place.
    QString stage(const QString& found, const QString& staging, const QString& fileName) const;
    static void checkBundleTree(const QString& app);

    // Exchanges the staged app (beside `installed`, in a staging folder) with
    // the installed one in one atomic rename, then moves the old copy to the
    // Trash. Nothing is copied. When the Trash refuses the old copy, the
    // update still stands: the old copy goes beside the app under a visible
    // name. Returns the log line saying where the old copy is.
    QString swap(const QString& staged, const QString& installed) const;

    // Moves `item` to the Trash, or into the trash folder under a free name
    // ("Foo.app", "Foo 2.app", …). Returns the new path; empty for the
    // user's Trash.
    QString moveToTrash(const QString& item) const;

    // Renames the staged and verified `app` (in a staging folder inside the
    // applications folder) into that folder under its own file name, never
    // overwriting anything there. Returns the placed path.
    QCoro::Task<QString> place(QString app, QString name) const;

    // ---- first installs (UpdaterInstallNew.cpp, UpdaterPackage.cpp) ---------

    // Installs an app of the cloud library that isn't on this Mac yet from
    // one release: checked against the library's Team ID (or, without one,
    // for a notarized Developer ID signature), from a zip, a disk image or an
    // installer package (after `consent`), and placed into the applications
    // folder, never over an app there. Throws UpdateError.
    QCoro::Task<FirstInstall> installNew(
        LibraryApp app, Release release, ConsentCallback consent, PhaseCallback phase) const;
    // installNew with each release in turn until one succeeds; a final or
    // permission error stops at once, otherwise every failure is listed.
    QCoro::Task<FirstInstall> installFirst(
        LibraryApp app, QList<Release> releases, ConsentCallback consent, PhaseCallback phase) const;

    // The Team ID of the app at `app` when it is validly signed with a
    // Developer ID and Gatekeeper says it is notarized. Throws UpdateError.
    QString notarizedDeveloperID(const QString& app, const QString& name) const;

    // The installer package the download is or holds, copied to
    // "package.pkg" in `work`: the file itself when it starts with "xar!",
    // else the package `name` in a zip or disk image. None when the download
    // is no package and names none. Throws UpdateError.
    std::optional<QString> package(
        const QString& file, const std::optional<QString>& name, const QString& work) const;
    // What the package signature report and Gatekeeper say about `package`.
    PackageSigner packageSigner(const QString& package) const;

    // The processes running code from the app's bundle.
    QList<RunningProcess> running(const InstalledApp& app) const;

    // ---- removing -----------------------------------------------------------

    // Why the app must never be removed (an Apple app, or this program); none otherwise.
    static std::optional<QString> protectedReason(const InstalledApp& app);

    // Removes the app and then each data item, to the Trash or for good.
    // Every check runs before anything moves: the app is removable, inside
    // the applications folder and not running, and each data item is an
    // app's own file or folder inside `library` and one of the leftovers
    // found there for this app now (with the cask's `caskZap` paths). A
    // launch agent is booted out before it goes, unless `sandboxed`. Returns
    // the removed paths, the app's first. Throws UpdateError, or the file
    // system's error for a data item.
    QStringList uninstall(const InstalledApp& app, const QList<QUrl>& data, const QString& library,
        const QStringList& caskZap, bool permanently, bool sandboxed = false) const;

    // ---- tools --------------------------------------------------------------

    // Runs `tool` and returns its standard output and error together; a
    // non-zero exit throws UpdateError "<tool name> failed: <output>", a
    // tool that can't start SystemError.
    static QByteArray run(const QString& tool, const QStringList& arguments,
        const std::optional<QByteArray>& input = std::nullopt);
    // Runs `tool` and returns its exit status and output; never throws.
    static ToolOutput output(const QString& tool, const QStringList& arguments);

    // Runs `body` on the thread pool and resumes the caller with its result,
    // or rethrows what it threw (not wrapped in QUnhandledException).
    template<typename Body> static QCoro::Task<std::invoke_result_t<Body>> blocking(Body body);

private:
    // Checks 6 to 9a of the update: the downloaded file against what the
    // source published. Returns their log lines.
    static QStringList checkDownload(const Downloaded& file, const InstalledApp& app, const Release& release);
    // Checks 11 to 15: the unpacked app against the installed one.
    QStringList checkApp(
        const QString& newApp, const InstalledApp& app, const std::optional<QString>& requirement) const;

    // The package path of a first install, after the download's checks:
    // the package's checks, consent, then the administrator step.
    QCoro::Task<FirstInstall> installPackage(
        LibraryApp app, Release release, QString package, ConsentCallback consent, PhaseCallback phase) const;

    // Renames the old copy beside `installed` as "<name> (old version).app";
    // returns where it is (still `old` when even that fails).
    QString keepOldCopy(const QString& old, const QString& installed) const;

    Services m_services;
    QString m_applications;
    std::optional<QString> m_trash;
};

template<typename Body> QCoro::Task<std::invoke_result_t<Body>> Updater::blocking(Body body)
{
    using Result = std::invoke_result_t<Body>;
    QFuture<Result> future = QtConcurrent::run(std::move(body));
    try {
        if constexpr (std::is_void_v<Result>)
            co_await future;
        else
            co_return co_await future;
    } catch (const QUnhandledException& wrapped) {
        if (wrapped.exception())
            std::rethrow_exception(wrapped.exception());
        throw;
    }
}

} // namespace corvanta
