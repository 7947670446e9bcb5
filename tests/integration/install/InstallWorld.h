#pragma once

// An applications folder with a signed app, a test certificate authority and
// a loopback server for downloads: the world whole installs run in.

#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "discovery/Scanner.h"
#include "install/Updater.h"
#include "sources/Release.h"
#include "support/Await.h"
#include "support/BundleBuilder.h"
#include "support/InstallFixtures.h"
#include "support/MachOWriter.h"
#include "support/TestAuthority.h"
#include "support/TestServer.h"
#include "support/ZipWriter.h"

#include <memory>

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace corvanta::test {

using namespace Qt::StringLiterals;

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// How a test app is built and signed.
struct AppOptions {
    QString bundleID = QStringLiteral("com.example.foo");
    QString version = QStringLiteral("1.0");
    QString build = QStringLiteral("1");
    std::optional<QString> edKey;
    std::optional<QString> team; // Developer ID of this team; none: ad hoc
    bool adHoc = false; // no team even where one is the default
    bool unsignedCode = false;
    std::uint32_t cpuType = CpuType::ofThisBuild();
    std::uint32_t seed = 1; // changes the executable's bytes
};

// What an install ended with.
struct Outcome {
    std::optional<QStringList> log;
    std::optional<QString> error;
    QList<InstallPhase> phases;
};

class InstallWorld : public testing::Test {
protected:
    InstallWorld()
        : m_services(std::make_unique<codesign::PortableCodeSigning>(m_authority.anchors()))
    {
    }

    // "Foo.app" in `folder`, with a Mach-O executable and signed as told.
    QString makeApp(const QString& folder, const AppOptions& options)
    {
        test::BundleBuilder builder(folder, u"Foo"_s);
        builder.bundleID(options.bundleID)
            .version(options.version)
            .build(options.build)
            .executable(u"Foo"_s, test::MachOWriter::executable(options.cpuType, 20000, options.seed))
            .file(u"Contents/Resources/notes.txt"_s, "version " + options.version.toUtf8())
            .symlink(u"Contents/Resources/current.txt"_s, u"notes.txt"_s);
        if (options.edKey)
            builder.edKey(*options.edKey);
        const QString path = builder.create();
        if (!options.unsignedCode) {
            codesign::SigningOptions signing;
            if (options.team)
                signing.identity = m_authority.developerId(*options.team);
            codesign::CodeSigner(signing).sign(path);
        }
        return path;
    }

    // The app in the applications folder as the scanner reads it.
    InstalledApp installed(const QString& path)
    {
        const auto app = Scanner::read(QUrl::fromLocalFile(path),
            QUrl::fromLocalFile(m_sandbox.applications()), *m_services.codeSigning);
        EXPECT_TRUE(app);
        return app.value_or(InstalledApp {});
    }

    // A zip of the app, served at /Foo.zip; returns its bytes.
    QByteArray serveZip(const QString& app)
    {
        const QString zip = m_sandbox.root() + u"/Foo.zip"_s;
        QFile::remove(zip);
        {
            test::ZipWriter writer(zip);
            writer.tree(app, QFileInfo(app).fileName());
        }
        return serve(zip);
    }

    QByteArray serve(const QString& file)
    {
        const QByteArray bytes = readAll(file);
        m_server.on(u"/Foo.zip"_s, test::Response { .body = bytes });
        return bytes;
    }

    Release release(SourceKind kind, const QByteArray& bytes, bool statedSize = true) const
    {
        Release result;
        result.kind = kind;
        result.version = u"2.0"_s;
        Download download;
        download.url = m_server.url(u"/Foo.zip"_s);
        if (statedSize)
            download.size = bytes.size();
        result.download = download;
        return result;
    }

    Outcome install(const InstalledApp& app, const Release& release, PhaseCallback extra = {})
    {
        Outcome outcome;
        const Updater updater(m_services.services(), m_sandbox.applications(), m_sandbox.trash());
        try {
            outcome.log
                = test::await(updater.install(app, release, [&outcome, extra](const InstallPhase& phase) {
                      outcome.phases.append(phase);
                      if (extra)
                          extra(phase);
                  }));
        } catch (const UpdateError& error) {
            outcome.error = error.description();
        }
        return outcome;
    }

    // Applications and Trash hold exactly this, and no work or staging folder is left.
    void expectWorld(const Snapshot& applications, const Snapshot& trash)
    {
        EXPECT_EQ(test::difference(applications, test::snapshot(m_sandbox.applications())), QString());
        EXPECT_EQ(test::difference(trash, test::snapshot(m_sandbox.trash())), QString());
        EXPECT_EQ(m_sandbox.leftovers(), QStringList());
    }

    test::TestAuthority m_authority;
    test::InstallSandbox m_sandbox;
    test::TestServices m_services;
    test::TestServer m_server;
};

} // namespace corvanta::test
