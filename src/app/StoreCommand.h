#pragma once

#include "app/Cli.h"
#include "codesign/PortableCodeSigning.h"
#include "model/Prefs.h"
#include "model/Prompts.h"
#include "model/Store.h"
#include "package/PackageTools.h"
#include "package/PortableGatekeeper.h"
#include "platform/linux/LinuxHostInfo.h"
#include "sources/Net.h"

#include <memory>
#include <variant>

#include <QStringList>
#include <QTextStream>

namespace corvanta {

// The model the app-action commands work on: this Mac's application folders,
// or a sandbox (--sandbox DIR), checked against the real services or a mock
// (--mock URL), with code signatures judged against --anchors DIR and the
// account settings of --firebase-config FILE, as the Mac --device-id ID says. Questions
// are answered by --yes or --no, else on the terminal, else cancelled.
class StoreCommand {
public:
    // Takes the shared options out of `arguments` and leaves the command's
    // own; a problem with them is returned as text for the usage message.
    static std::variant<std::unique_ptr<StoreCommand>, QString> open(
        CliContext& context, QStringList& arguments);
    ~StoreCommand();

    Store& store() { return *m_store; }
    QTextStream& out() { return m_out; }

    // Whether this build has account settings and, when `session` is asked
    // for, someone is signed in; says what's missing on `err` otherwise.
    bool hasAccount(QTextStream& err, bool session = true);

    // Scans and checks, as a refresh of the window does.
    QCoro::Task<> load();

    // The one item named `which`: a path, a bundle identifier or a name (any
    // case). None, with `problem` set, when there is none or more than one.
    AppItem* find(const QString& which, QString& problem) const;

    // "Foo — Up to date" and the card's sentence, as the window shows them.
    static QString describe(const AppItem& item);
    // A leftover's size (or a dash when unmeasured), path and whether it may be another app's.
    static QString line(const Leftover& leftover);

private:
    StoreCommand(CliContext& context, const codesign::TrustAnchors& anchors);

    QTextStream& m_out;
    QTextStream m_in;
    Net m_net;
    LinuxHostInfo m_host;
    codesign::PortableCodeSigning m_codeSigning;
    std::unique_ptr<Prefs> m_prefs;
    std::unique_ptr<Prompts> m_prompts;
    std::unique_ptr<Gatekeeper> m_gatekeeper;
    std::optional<PackageTools> m_packageTools;
    std::unique_ptr<Store> m_store;
};

} // namespace corvanta
