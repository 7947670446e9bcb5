#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

class QSettings;

namespace corvanta {

class Ditto;
class LoginItem;
class Trash;

// The steps of the setup window, in order.
enum class SetupStep { move, permission, login, done };

// First-run setup: running from an applications folder, opening at login.
// On Linux the program's "bundle" is the folder it is installed in (the
// prefix holding bin/corvanta); the applications folders are /opt for
// everyone and ~/Applications for one user, and a package's /usr counts too.
class Setup {
public:
    struct Services {
        QSettings& defaults;
        LoginItem& login;
        Trash& trash;
        Ditto& ditto;
        QString bundle; // the running program's folder
        QString home;
        QString primaryFolder = QStringLiteral("/opt");
        // Whether the user may write in a folder; tests make /opt read-only.
        std::function<bool(const QString&)> writable;
    };

    explicit Setup(Services services);

    static inline const QString skipMoveKey = QStringLiteral("setup.skipMove");
    static inline const QString askedLoginKey = QStringLiteral("setup.askedLogin");
    static inline const QString bundleName = QStringLiteral("Corvanta");

    // The folder the program at `executable` is installed in: <prefix> for <prefix>/bin/corvanta.
    static QString bundleOf(const QString& executable);
    static bool isInApplications(const QString& bundle, const QString& home);
    bool isInApplications() const;
    // The first step still to do, or none.
    std::optional<SetupStep> needs() const;
    // Copies the program into an applications folder and returns its new
    // bundle; an earlier copy there goes to the Trash. Throws Error.
    QString moveToApplications(const QString& from);
    // Where a translocated copy really lives. Nothing translocates on Linux.
    std::optional<QString> originalLocation() const;
    // The command that starts the copy at `bundle` once this process is gone.
    static QStringList relaunchCommand(const QString& bundle);
    // Starts the copy at `bundle` and quits this process.
    void relaunch(const QString& bundle);
    // Switches opening at login; the question counts as answered either way.
    void setLogin(bool on);
    // Clears a stale Accessibility record; Linux keeps none.
    void resetOwnPermission();

    bool skipMove() const;
    void setSkipMove(bool skip);

    // "Couldn't move it: …" as the setup window says it.
    static QString moveFailure(const QString& description);

private:
    Services m_services;
};

} // namespace corvanta
