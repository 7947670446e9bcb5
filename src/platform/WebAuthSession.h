#pragma once

#include "base/Error.h"

#include <memory>

#include <QCoro/QCoroTask>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvanta {

// The user closed the web sign-in before it finished. Forms show nothing for it.
class WebAuthCancelled : public Error {
public:
    WebAuthCancelled()
        : Error(QStringLiteral("Sign-in was cancelled."))
    {
    }
};

// A sign-in page in the system browser whose end comes back to us as a URL
// of our own scheme. One flow at a time; the session outlives the flows it
// starts.
class WebAuthSession {
public:
    virtual ~WebAuthSession() = default;

    // Opens `url` in the browser and completes with the first callback URL
    // of `callbackScheme` delivered. Throws WebAuthCancelled after cancel(),
    // and Error when no browser could be opened or a flow is already waiting.
    virtual QCoro::Task<QUrl> start(QUrl url, QString callbackScheme) = 0;
    // Hands a URL the desktop gave a launch of this program to the waiting
    // flow; false when nothing waits for a URL of that scheme.
    virtual bool deliver(const QUrl& callback) = 0;
    // Ends the waiting flow with WebAuthCancelled; nothing when none waits.
    virtual void cancel() = 0;

    // The session of this platform. On Linux the browser is the first
    // command of BROWSER in `environment` that starts, else the desktop's;
    // the callback comes back through a desktop entry for its scheme that
    // launches this program with `launchOptions` (its --sandbox and
    // --firebase-config) and the URL.
    static std::unique_ptr<WebAuthSession> create(
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
        QStringList launchOptions = {});
};

} // namespace corvanta
