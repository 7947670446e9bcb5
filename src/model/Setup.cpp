#include "model/Setup.h"

#include "base/Error.h"
#include "platform/Ditto.h"
#include "platform/LoginItem.h"
#include "platform/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {
Q_LOGGING_CATEGORY(lcSetup, "corvanta.setup")
} // namespace

Setup::Setup(Services services)
    : m_services(std::move(services))
{
    if (!m_services.writable)
        m_services.writable = [](const QString& folder) { return QFileInfo(folder).isWritable(); };
}

QString Setup::bundleOf(const QString& executable)
{
    const QDir folder = QFileInfo(executable).absoluteDir();
    return folder.dirName() == u"bin"_s ? QFileInfo(folder.absolutePath()).absolutePath()
                                        : folder.absolutePath();
}

bool Setup::isInApplications(const QString& bundle, const QString& home)
{
    if (bundle.contains(u"/AppTranslocation/"_s))
        return false;
    const QString path = bundle + u'/';
    return path.startsWith(u"/opt/"_s) || path.startsWith(home + u"/Applications/"_s) || path == u"/usr/"_s
        || path == u"/usr/local/"_s;
}

bool Setup::isInApplications() const
{
    return isInApplications(m_services.bundle, m_services.home);
}

std::optional<SetupStep> Setup::needs() const
{
    if (!isInApplications() && !skipMove())
        return SetupStep::move;
    if (m_services.defaults.value(askedLoginKey).toBool() || m_services.login.enabled())
        return std::nullopt;
    return SetupStep::login;
}

QString Setup::moveToApplications(const QString& from)
{
    QString folder = m_services.primaryFolder;
    if (!m_services.writable(folder)) {
        folder = m_services.home + u"/Applications"_s;
        if (!QDir().mkpath(folder))
            throw Error(u"Couldn't make the folder %1."_s.arg(folder));
    }
    const QString target = folder + u'/' + bundleName;
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
        m_services.trash.moveToTrash(target);
    // The program and its resources; a build tree's other files stay behind.
    const QString program = from + u"/bin/corvanta"_s;
    if (!QFileInfo(program).isFile())
        throw Error(u"There is no program at %1."_s.arg(program));
    if (!QDir().mkpath(target + u"/bin"_s))
        throw Error(u"Couldn't make the folder %1."_s.arg(target));
    m_services.ditto.copy(program, target + u"/bin/corvanta"_s);
    const QString resources = from + u"/share/corvanta"_s;
    if (QFileInfo(resources).isDir() && QDir().mkpath(target + u"/share"_s))
        m_services.ditto.copy(resources, target + u"/share/corvanta"_s);
    // Downloads carry no quarantine mark here; there is nothing to remove.
    qCInfo(lcSetup) << "Moved to" << target;
    if (const std::optional<QString> original = originalLocation(); original && *original != target)
        m_services.trash.moveToTrash(*original);
    return target;
}

std::optional<QString> Setup::originalLocation() const
{
    return std::nullopt;
}

QStringList Setup::relaunchCommand(const QString& bundle)
{
    // The shell waits so this process can quit and free the single-instance socket first.
    return { u"/bin/sh"_s, u"-c"_s, u"sleep 1; exec \"$0/bin/corvanta\""_s, bundle };
}

void Setup::relaunch(const QString& bundle)
{
    QStringList command = relaunchCommand(bundle);
    const QString shell = command.takeFirst();
    if (!QProcess::startDetached(shell, command))
        qCWarning(lcSetup) << "Couldn't start the moved copy at" << bundle;
    QCoreApplication::quit();
}

void Setup::setLogin(bool on)
{
    try {
        m_services.login.setEnabled(on);
    } catch (const Error& error) {
        qCWarning(lcSetup).noquote() << u"Launch at login: "_s + error.description();
    }
    m_services.defaults.setValue(askedLoginKey, true);
}

void Setup::resetOwnPermission()
{
    // Linux keeps no per-program Accessibility record to clear.
}

bool Setup::skipMove() const
{
    return m_services.defaults.value(skipMoveKey).toBool();
}

void Setup::setSkipMove(bool skip)
{
    m_services.defaults.setValue(skipMoveKey, skip);
}

QString Setup::moveFailure(const QString& description)
{
    return u"Couldn't move it: "_s + description
        + u" Drag Corvanta into Applications yourself, then open it from there."_s;
}

} // namespace corvanta
