#pragma once

#include "demo/TreeDigest.h"
#include "install/Updater.h"
#include "platform/CodeSigning.h"
#include "platform/DiskImages.h"
#include "platform/Ditto.h"
#include "platform/Rename.h"
#include "platform/Trash.h"
#include "platform/Workspace.h"
#include "sources/Net.h"
#include "support/QtPrinters.h"
#include "support/Snapshot.h"

#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace corvanta::test {

// What a test app bundle holds.
struct AppShape {
    QString name = QStringLiteral("Foo"); // the bundle is "<name>.app"
    QString bundleID = QStringLiteral("com.example.foo");
    QString version = QStringLiteral("1.0");
    QString build = QStringLiteral("1");
    QByteArray payload = "old"; // written into the executable, so versions differ in content
    int extraFiles = 0; // resource files of `extraSize` bytes each, to make copies take time
    qint64 extraSize = 0;
    std::optional<QString> edKey; // SUPublicEDKey
};

// Writes "<folder>/<name>.app": Info.plist, an executable, resources and a
// framework with the usual Versions/Current -> A links. Returns its path.
QString makeApp(const QString& folder, const AppShape& shape);

// A private world for one install test: folders for the apps, a trash
// folder and a temporary folder, which TMPDIR points at while it lives so
// that work folders land there and can be counted.
class InstallSandbox {
public:
    InstallSandbox();
    ~InstallSandbox();
    InstallSandbox(const InstallSandbox&) = delete;
    InstallSandbox& operator=(const InstallSandbox&) = delete;

    QString root() const { return m_dir.path(); }
    QString applications() const { return m_dir.path() + QStringLiteral("/Applications"); }
    QString trash() const { return m_dir.path() + QStringLiteral("/Trash"); }
    QString temp() const { return m_dir.path() + QStringLiteral("/tmp"); }
    // A folder outside the apps' folder for new versions and other inputs.
    QString inputs() const { return m_dir.path() + QStringLiteral("/inputs"); }

    // Work folders left in the temporary folder and staging folders or
    // temporary copies left beside the apps.
    QStringList leftovers() const;

private:
    QTemporaryDir m_dir;
    std::optional<QByteArray> m_savedTmp;
};

// A Rename that forwards to the real one until told to fail.
class ScriptedRename : public Rename {
public:
    ScriptedRename();
    void exchange(const QString& a, const QString& b) override;
    void noReplace(const QString& from, const QString& to) override;

    std::optional<int> failExchange; // errno to fail with
    std::optional<int> failNoReplace;
    int exchanges = 0;

private:
    std::unique_ptr<Rename> m_real;
};

// A Trash that forwards to the real one until told to fail.
class ScriptedTrash : public Trash {
public:
    ScriptedTrash();
    void moveToTrash(const QString& path) override;
    void moveTo(const QString& path, const QString& destination) override;

    std::optional<int> fail; // errno every move fails with
    QStringList trashed; // paths given to moveToTrash

private:
    std::unique_ptr<Trash> m_real;
};

// The Linux services an Updater uses, with the renames and the Trash
// scripted so a test can make them fail.
struct TestServices {
    // `codeSigning` defaults to our own verifier trusting no authority.
    explicit TestServices(std::unique_ptr<CodeSigning> codeSigning = nullptr);
    ~TestServices();

    Updater::Services services();

    Net net;
    std::unique_ptr<Ditto> ditto;
    ScriptedRename rename;
    ScriptedTrash trash;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<DiskImages> diskImages;
    std::unique_ptr<CodeSigning> codeSigning;
};

} // namespace corvanta::test
