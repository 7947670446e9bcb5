#include "account/CloudConfig.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

QUrl parsed(const QString& text)
{
    QUrl url(text, QUrl::StrictMode);
    // Every part is ours or the build's settings: a bad one is a bug.
    Q_ASSERT_X(url.isValid(), "CloudConfig", qPrintable(text));
    return url;
}

// An endpoint named by a settings file: kept only when it can't leak the
// sign-in to a stranger on the network.
std::optional<QUrl> endpoint(const QJsonObject& object, const QString& key)
{
    const QUrl url(object.value(key).toString(), QUrl::StrictMode);
    const bool loopback
        = url.host() == u"127.0.0.1"_s || url.host() == u"localhost"_s || url.host() == u"::1"_s;
    if (url.isValid() && (url.scheme() == u"https"_s || (url.scheme() == u"http"_s && loopback)))
        return url;
    return std::nullopt;
}

} // namespace

std::optional<CloudConfig> CloudConfig::current(
    const std::optional<QString>& configFile, const QProcessEnvironment& environment)
{
    std::optional<CloudConfig> config = read(configFile.value_or(bundledFile()));
    if (config)
        config->applyEmulator(environment);
    return config;
}

std::optional<CloudConfig> CloudConfig::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
    }
    if (!object.contains(u"projectId"_s) || object.value(u"apiKey"_s).toString().isEmpty())
        return std::nullopt;
    CloudConfig config;
    config.apiKey = object.value(u"apiKey"_s).toString();
    config.projectId = object.value(u"projectId"_s).toString();
    config.googleClientID = object.value(u"googleClientID"_s).toString();
    config.google.authorization
        = endpoint(object, u"googleAuthorizationEndpoint"_s).value_or(config.google.authorization);
    config.google.token = endpoint(object, u"googleTokenEndpoint"_s).value_or(config.google.token);
    return config;
}

QString CloudConfig::bundledFile()
{
    return QCoreApplication::applicationDirPath() + u"/../share/corvanta/firebase.json"_s;
}

void CloudConfig::applyEmulator(const QProcessEnvironment& environment)
{
    const QString host = environment.value(u"FIREBASE_AUTH_EMULATOR_HOST"_s);
    if (!host.isEmpty()) {
        authHost = u"http://"_s + host + u'/';
        emulated = true;
    }
    // The emulator serves the REST paths at its root, as the service does.
    const QString firestore = environment.value(u"FIRESTORE_EMULATOR_HOST"_s);
    if (!firestore.isEmpty()) {
        firestoreHost = u"http://"_s + firestore + u'/';
        emulated = true;
    }
}

QUrl CloudConfig::identity(const QString& method) const
{
    return parsed(authHost + u"identitytoolkit.googleapis.com/v1/accounts:"_s + method + u"?key="_s + apiKey);
}

QUrl CloudConfig::tokenURL() const
{
    return parsed(authHost + u"securetoken.googleapis.com/v1/token?key="_s + apiKey);
}

} // namespace corvanta
