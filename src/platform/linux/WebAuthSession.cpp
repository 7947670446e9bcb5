#include "platform/WebAuthSession.h"

#include "platform/linux/DesktopEntry.h"

#include <optional>

#include <QCoreApplication>
#include <QCoro/QCoroSignal>
#include <QDesktopServices>
#include <QLoggingCategory>
#include <QObject>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(lcWebAuth, "corvanta.platform.webauth")

const QString entryName = u"corvanta-signin.desktop"_s;

// BROWSER is a ":"-separated list of commands, "%s" standing for the URL
// (appended when absent); the first that starts is the browser.
bool openWithBrowserVariable(const QString& variable, const QUrl& url)
{
    const QString target = url.toString(QUrl::FullyEncoded);
    for (const QString& command : variable.split(u':', Qt::SkipEmptyParts)) {
        QStringList arguments = QProcess::splitCommand(command);
        if (arguments.isEmpty())
            continue;
        const QString program = arguments.takeFirst();
        bool substituted = false;
        for (QString& argument : arguments) {
            if (argument.contains(u"%s"_s)) {
                argument.replace(u"%s"_s, target);
                substituted = true;
            }
        }
        if (!substituted)
            arguments.append(target);
        if (QProcess::startDetached(program, arguments))
            return true;
        qCInfo(lcWebAuth) << "browser command did not start:" << program;
    }
    return false;
}

// The desktop hands URLs of `scheme` to the program through its entry in the
// user's applications folder; written afresh for each flow, as the program
// may have moved since.
void registerHandler(
    const QString& scheme, const QStringList& launchOptions, const QProcessEnvironment& environment)
{
    const QString entry
        = u"[Desktop Entry]\nType=Application\nName=Corvanta\nComment=Keeps your apps up to date\n"
          u"Exec="_s
        + DesktopEntry::exec(
            QStringList { QCoreApplication::applicationFilePath() } + launchOptions, { u"%u"_s })
        + u"\nIcon=corvanta\nTerminal=false\nNoDisplay=true\nMimeType=x-scheme-handler/"_s + scheme
        + u";\n"_s;
    if (!DesktopEntry::write(DesktopEntry::dataHome(environment) + u"/applications/"_s + entryName, entry))
        return;
    // Make it the scheme's handler; without xdg-utils the entry's MimeType still counts on most desktops.
    QProcess mime;
    mime.setProcessEnvironment(environment);
    mime.start(u"xdg-mime"_s, { u"default"_s, entryName, u"x-scheme-handler/"_s + scheme });
    if (!mime.waitForFinished(5000) || mime.exitCode() != 0)
        qCInfo(lcWebAuth) << "xdg-mime didn't register the sign-in handler:" << mime.errorString();
}

class LinuxWebAuthSession final : public QObject, public WebAuthSession {
    Q_OBJECT

public:
    LinuxWebAuthSession(QProcessEnvironment environment, QStringList launchOptions)
        : m_environment(std::move(environment))
        , m_launchOptions(std::move(launchOptions))
    {
    }

    QCoro::Task<QUrl> start(QUrl url, QString callbackScheme) override
    {
        if (m_scheme)
            throw Error(u"Another sign-in is already waiting for your browser."_s);
        m_scheme = callbackScheme;
        m_callback.reset();
        m_cancelled = false;
        registerHandler(callbackScheme, m_launchOptions, m_environment);
        // xdg-open doesn't always honour BROWSER, so a set one is run here.
        const QString browser = m_environment.value(u"BROWSER"_s);
        if (!openWithBrowserVariable(browser, url) && !QDesktopServices::openUrl(url)) {
            m_scheme.reset();
            throw Error(u"Couldn't open your web browser."_s);
        }
        if (!m_callback && !m_cancelled)
            co_await qCoro(this, &LinuxWebAuthSession::finished);
        m_scheme.reset();
        if (m_cancelled)
            throw WebAuthCancelled();
        co_return *m_callback;
    }

    bool deliver(const QUrl& callback) override
    {
        if (!m_scheme || m_callback || m_cancelled
            || callback.scheme().compare(*m_scheme, Qt::CaseInsensitive) != 0)
            return false;
        m_callback = callback;
        finishLater();
        return true;
    }

    void cancel() override
    {
        if (!m_scheme || m_callback || m_cancelled)
            return;
        m_cancelled = true;
        finishLater();
    }

Q_SIGNALS:
    void finished();

private:
    // The flow resumes from the event loop, not inside the caller of deliver()
    // or cancel(), which may be gone by the time the flow has run on.
    void finishLater()
    {
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT finished(); }, Qt::QueuedConnection);
    }

    QProcessEnvironment m_environment;
    QStringList m_launchOptions;
    std::optional<QString> m_scheme; // set while a flow waits
    std::optional<QUrl> m_callback;
    bool m_cancelled = false;
};

} // namespace

std::unique_ptr<WebAuthSession> WebAuthSession::create(
    QProcessEnvironment environment, QStringList launchOptions)
{
    return std::make_unique<LinuxWebAuthSession>(std::move(environment), std::move(launchOptions));
}

} // namespace corvanta

#include "WebAuthSession.moc"
