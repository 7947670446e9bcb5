#include "platform/WebAuthSession.h"

#include <optional>

#include <QCoro/QCoroSignal>
#include <QDesktopServices>
#include <QLoggingCategory>
#include <QObject>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

Q_LOGGING_CATEGORY(lcWebAuth, "corvanta.platform.webauth")

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

class LinuxWebAuthSession final : public QObject, public WebAuthSession {
    Q_OBJECT

public:
    explicit LinuxWebAuthSession(QProcessEnvironment environment)
        : m_environment(std::move(environment))
    {
    }

    QCoro::Task<QUrl> start(QUrl url, QString callbackScheme) override
    {
        if (m_scheme)
            throw Error(u"Another sign-in is already waiting for your browser."_s);
        m_scheme = callbackScheme;
        m_callback.reset();
        m_cancelled = false;
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
    std::optional<QString> m_scheme; // set while a flow waits
    std::optional<QUrl> m_callback;
    bool m_cancelled = false;
};

} // namespace

std::unique_ptr<WebAuthSession> WebAuthSession::create(QProcessEnvironment environment)
{
    return std::make_unique<LinuxWebAuthSession>(std::move(environment));
}

} // namespace corvanta

#include "WebAuthSession.moc"
