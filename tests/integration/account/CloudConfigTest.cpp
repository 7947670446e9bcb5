#include "account/CloudConfig.h"

#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvanta;
using namespace Qt::StringLiterals;

namespace {

struct FileRow {
    const char* name;
    std::optional<QByteArray> content; // none: no file
    bool valid;
    QString googleClientID;
};

TEST(CloudConfig, ReadsOnlyObjectsOfStringsWithKeyAndProject)
{
    const FileRow rows[] = {
        { "complete", R"({"apiKey":"k","projectId":"p","googleClientID":"g","extra":"x"})", true, u"g"_s },
        { "no Google client", R"({"apiKey":"k","projectId":"p"})", true, u""_s },
        { "empty project", R"({"apiKey":"k","projectId":""})", true, u""_s },
        { "no apiKey", R"({"projectId":"p"})", false, {} },
        { "empty apiKey", R"({"apiKey":"","projectId":"p"})", false, {} },
        { "no projectId", R"({"apiKey":"k"})", false, {} },
        { "a value not a string", R"({"apiKey":"k","projectId":"p","port":9099})", false, {} },
        { "an array", R"([{"apiKey":"k","projectId":"p"}])", false, {} },
        { "not JSON", "apiKey=k", false, {} },
        { "missing", std::nullopt, false, {} },
    };
    QTemporaryDir folder;
    for (const FileRow& row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = folder.filePath(QString::fromUtf8(row.name));
        if (row.content) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(*row.content);
        }
        const std::optional<CloudConfig> config = CloudConfig::read(path);
        ASSERT_EQ(config.has_value(), row.valid);
        if (!config)
            continue;
        EXPECT_EQ(config->apiKey, u"k"_s);
        EXPECT_EQ(config->googleClientID, row.googleClientID);
        EXPECT_EQ(config->authHost, u"https://"_s);
        EXPECT_TRUE(config->firestoreHost.startsWith(u"https://"_s) && config->firestoreHost.endsWith(u'/'));
        EXPECT_FALSE(config->emulated);
    }
}

TEST(CloudConfig, GoogleEndpointsMayBeNamedOnlyWhereTheyCantLeak)
{
    const QString google = GoogleEndpoints {}.authorization.toString();
    const struct {
        QString named;
        QString taken;
    } rows[] = {
        { u"https://sign-in.example.com/auth"_s, u"https://sign-in.example.com/auth"_s },
        { u"http://127.0.0.1:8080/auth"_s, u"http://127.0.0.1:8080/auth"_s },
        { u"http://localhost:8080/auth"_s, u"http://localhost:8080/auth"_s },
        { u"http://sign-in.example.com/auth"_s, google },
        { u"ftp://127.0.0.1/auth"_s, google },
        { u"not a url"_s, google },
    };
    QTemporaryDir folder;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.named.toStdString());
        QFile file(folder.filePath(u"firebase.json"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(R"({"apiKey":"k","projectId":"p","googleAuthorizationEndpoint":")" + row.named.toUtf8()
            + R"(","googleTokenEndpoint":")" + row.named.toUtf8() + "\"}");
        file.close();
        const std::optional<CloudConfig> config = CloudConfig::read(file.fileName());
        ASSERT_TRUE(config);
        EXPECT_EQ(config->google.authorization.toString(), row.taken);
        EXPECT_EQ(config->google.token.toString(),
            row.taken == google ? GoogleEndpoints {}.token.toString() : row.taken);
    }
}

TEST(CloudConfig, EmulatorHostRedirectsBothServices)
{
    QTemporaryDir folder;
    QFile file(folder.filePath(u"firebase.json"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"apiKey":"K","projectId":"p"})");
    file.close();

    const std::optional<CloudConfig> real = CloudConfig::current(file.fileName(), QProcessEnvironment());
    ASSERT_TRUE(real);
    EXPECT_EQ(real->identity(u"signUp"_s),
        QUrl(u"https://identitytoolkit.googleapis.com/v1/accounts:signUp?key=K"_s));
    EXPECT_EQ(real->tokenURL(), QUrl(u"https://securetoken.googleapis.com/v1/token?key=K"_s));
    EXPECT_FALSE(real->emulated);

    QProcessEnvironment environment;
    environment.insert(u"FIREBASE_AUTH_EMULATOR_HOST"_s, u"127.0.0.1:9099"_s);
    const std::optional<CloudConfig> emulated = CloudConfig::current(file.fileName(), environment);
    ASSERT_TRUE(emulated);
    EXPECT_EQ(emulated->authHost, u"http://127.0.0.1:9099/"_s);
    EXPECT_EQ(emulated->identity(u"lookup"_s),
        QUrl(u"http://127.0.0.1:9099/identitytoolkit.googleapis.com/v1/accounts:lookup?key=K"_s));
    EXPECT_EQ(
        emulated->tokenURL(), QUrl(u"http://127.0.0.1:9099/securetoken.googleapis.com/v1/token?key=K"_s));
    EXPECT_TRUE(emulated->emulated);

    // Without the flag the file beside the program is read; the test program has none.
    EXPECT_EQ(CloudConfig::bundledFile(),
        QCoreApplication::applicationDirPath() + u"/../share/corvanta/firebase.json"_s);
    EXPECT_FALSE(CloudConfig::current(std::nullopt, environment));
}

} // namespace
