#include "InstallWorld.h"
#include "platform/Ditto.h"

#include <functional>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

using test::Snapshot;

// A hostile download: a genuine update of Foo (signed by its developer)
// changed the way an attacker would, and what the user must read.
struct Attack {
    const char* name;
    // Changes `payload`, which holds the genuine "Foo.app"; every top-level
    // entry of it is zipped as it then stands. `authority` is the developer's.
    std::function<void(const QString& payload, const test::TestAuthority& authority)> tamper;
    QString refusal; // %VICTIM% stands for the folder outside the apps
};

void PrintTo(const Attack& attack, std::ostream* out)
{
    *out << attack.name;
}

void link(const QString& target, const QString& path)
{
    QFile::remove(path);
    QDir(path).removeRecursively();
    test::BundleBuilder::link(target, path);
}

// The genuine app moved aside as "Real.app", so a shell can borrow from it.
QString keepReal(const QString& payload)
{
    const QString real = payload + u"/Real.app"_s;
    Ditto::create()->copy(payload + u"/Foo.app"_s, real);
    return real;
}

class Attacks : public test::InstallWorld, public testing::WithParamInterface<Attack> {
protected:
    // A folder outside the applications folder that links in downloads aim at.
    QString victim() const { return m_sandbox.root() + u"/victim"_s; }
};

TEST_P(Attacks, ChangeNothingAndLeaveNothing)
{
    const Attack& attack = GetParam();
    QDir().mkpath(victim() + u"/Contents"_s);
    QFile secret(victim() + u"/Contents/secret"_s);
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("keep me");
    secret.close();
    const QString path = makeApp(m_sandbox.applications(), { .team = u"TEAMAAAAAA"_s });
    const InstalledApp app = installed(path);

    const QString payload = m_sandbox.root() + u"/payload"_s;
    QDir().mkpath(payload);
    makeApp(payload, { .version = u"2.0"_s, .build = u"2"_s, .team = u"TEAMAAAAAA"_s, .seed = 2 });
    attack.tamper(payload, m_authority);
    const QString zip = m_sandbox.root() + u"/Foo.zip"_s;
    {
        test::ZipWriter writer(zip);
        for (const QString& entry :
            QDir(payload).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System))
            writer.tree(payload + u'/' + entry, entry);
    }
    const Snapshot before = test::snapshot(m_sandbox.applications());
    const Snapshot outside = test::snapshot(victim());

    const test::Outcome outcome = install(app, release(SourceKind::sparkle, serve(zip)));

    QString refusal = attack.refusal;
    refusal.replace(u"%VICTIM%"_s, victim());
    EXPECT_EQ(outcome.error.value_or(u"(installed)"_s), refusal);
    EXPECT_EQ(test::difference(before, test::snapshot(m_sandbox.applications())), QString());
    EXPECT_EQ(test::difference(outside, test::snapshot(victim())), QString());
    EXPECT_EQ(test::snapshot(m_sandbox.trash()).size(), 1);
    EXPECT_EQ(m_sandbox.leftovers(), QStringList());
}

const QString borrowed = u"The download's app has a link where its own %1 must be. Refusing to install."_s;

INSTANTIATE_TEST_SUITE_P(HostileDownloads, Attacks,
    testing::Values(Attack { "Contents borrowed from a sibling",
                        [](const QString& payload, auto&) {
                            keepReal(payload);
                            QDir(payload + u"/Foo.app"_s).removeRecursively();
                            QDir().mkpath(payload + u"/Foo.app"_s);
                            link(u"../Real.app/Contents"_s, payload + u"/Foo.app/Contents"_s);
                        },
                        borrowed.arg(u"Contents"_s) },
        Attack { "Contents outside the download",
            [](const QString& payload, auto&) {
                QDir(payload + u"/Foo.app"_s).removeRecursively();
                QDir().mkpath(payload + u"/Foo.app"_s);
                link(u"../../../../victim/Contents"_s, payload + u"/Foo.app/Contents"_s);
            },
            u"The download contains a link to a location outside the app (Contents \u2192 "
            u"../../../../victim/Contents). Refusing to install."_s },
        Attack { "executable folder borrowed",
            [](const QString& payload, auto&) {
                keepReal(payload);
                link(u"../../Real.app/Contents/MacOS"_s, payload + u"/Foo.app/Contents/MacOS"_s);
            },
            borrowed.arg(u"Contents/MacOS"_s) },
        Attack { "executable borrowed",
            [](const QString& payload, auto&) {
                keepReal(payload);
                link(u"../../../Real.app/Contents/MacOS/Foo"_s, payload + u"/Foo.app/Contents/MacOS/Foo"_s);
            },
            borrowed.arg(u"Contents/MacOS/Foo"_s) },
        Attack { "Info.plist borrowed",
            [](const QString& payload, auto&) {
                keepReal(payload);
                link(u"../../Real.app/Contents/Info.plist"_s, payload + u"/Foo.app/Contents/Info.plist"_s);
            },
            borrowed.arg(u"Contents/Info.plist"_s) },
        Attack { "seal borrowed",
            [](const QString& payload, auto&) {
                keepReal(payload);
                link(u"../../Real.app/Contents/_CodeSignature"_s,
                    payload + u"/Foo.app/Contents/_CodeSignature"_s);
            },
            borrowed.arg(u"Contents/_CodeSignature"_s) },
        Attack { "resource leading to a sibling",
            [](const QString& payload, auto&) {
                keepReal(payload);
                link(u"../../../Real.app/Contents/Resources"_s,
                    payload + u"/Foo.app/Contents/Resources/more"_s);
            },
            u"The download contains a link to a location outside the app (more \u2192 "
            u"../../../Real.app/Contents/Resources). Refusing to install."_s },
        Attack { "link through a link",
            [](const QString& payload, auto&) {
                // Each link alone stays inside; followed one after the other they leave.
                link(u"../.."_s, payload + u"/Foo.app/Contents/Resources/up"_s);
                link(u"up/.."_s, payload + u"/Foo.app/Contents/Resources/out"_s);
            },
            u"The download contains a link to a location outside the app (out \u2192 up/..). Refusing to "
            u"install."_s },
        Attack { "leaf forged in the name of the developer's authority",
            [](const QString& payload, const test::TestAuthority& authority) {
                codesign::SigningOptions options;
                options.identity = authority.forgery(u"TEAMAAAAAA"_s);
                codesign::CodeSigner(options).sign(payload + u"/Foo.app"_s);
            },
            u"The new version's code signature is invalid: invalid signature (code or signature have been "
            u"modified)."_s },
        Attack { "team the signing certificate doesn't carry",
            [](const QString& payload, const test::TestAuthority& authority) {
                codesign::SigningOptions options;
                options.identity = authority.developerId(u"TEAMBBBBBB"_s);
                options.team = u"TEAMAAAAAA"_s;
                codesign::CodeSigner(options).sign(payload + u"/Foo.app"_s);
            },
            u"The new version's code signature is invalid: invalid or unsupported format for signature."_s }));

// Modes an archive gives are not the modes installed: nothing of the app may
// be writable by others, and no file may carry set-ID bits.
class Installs : public test::InstallWorld { };

TEST_F(Installs, MakeModesSafeBeforeTheAppLands)
{
    const QString path = makeApp(m_sandbox.applications(), { .team = u"TEAMAAAAAA"_s });
    const QString fresh = makeApp(
        m_sandbox.inputs(), { .version = u"2.0"_s, .build = u"2"_s, .team = u"TEAMAAAAAA"_s, .seed = 2 });
    const auto chmod = [&](const QString& relative, mode_t mode) {
        ASSERT_EQ(::chmod(QFile::encodeName(fresh + relative).constData(), mode), 0);
    };
    Snapshot expected = test::under(u"Foo.app"_s, test::snapshot(fresh));
    chmod(u"/Contents/MacOS/Foo"_s, 06777);
    chmod(u"/Contents/Resources"_s, 01777);
    chmod(u"/Contents/Resources/notes.txt"_s, 0666);
    const test::Outcome outcome = install(installed(path), release(SourceKind::sparkle, serveZip(fresh)));
    ASSERT_FALSE(outcome.error) << outcome.error->toStdString();
    EXPECT_EQ(test::difference(expected, test::snapshot(m_sandbox.applications())), QString());
}

TEST_F(Installs, AskForThePermissionWhereTheFolderIsProtected)
{
    const QString path = makeApp(m_sandbox.applications(), { .team = u"TEAMAAAAAA"_s });
    const Snapshot before = test::snapshot(m_sandbox.applications());
    const QString fresh = makeApp(
        m_sandbox.inputs(), { .version = u"2.0"_s, .build = u"2"_s, .team = u"TEAMAAAAAA"_s, .seed = 2 });
    const Release update = release(SourceKind::sparkle, serveZip(fresh));
    // The real thing where the file system allows it: an immutable folder
    // refuses every change with EPERM, as App Management does on macOS.
    if (QProcess::execute(u"chattr"_s, { u"+i"_s, m_sandbox.applications() }) != 0)
        GTEST_SKIP() << "chattr +i isn't allowed here; the Rename seam covers EPERM";
    const test::Outcome outcome = install(installed(path), update);
    QProcess::execute(u"chattr"_s, { u"-i"_s, m_sandbox.applications() });
    EXPECT_EQ(outcome.error,
        u"macOS blocked Corvanta from changing Foo. Turn on Corvanta in System Settings \u203a Privacy & "
        u"Security \u203a App Management, then try again."_s);
    EXPECT_EQ(test::difference(before, test::snapshot(m_sandbox.applications())), QString());
    EXPECT_EQ(m_sandbox.leftovers(), QStringList());
}

} // namespace
} // namespace corvanta
