#pragma once

#include "demo/Emulators.h"
#include "demo/Manifest.h"
#include "platform/HostInfo.h"

#include <functional>
#include <memory>

#include <QCoro/QCoroTask>
#include <QString>
#include <QTextStream>
#include <QUrl>

namespace corvanta {

class Store;

// The demo's second act on the world the first act updated: the Firebase
// emulators start, a demo account signs up and the first Mac's apps are
// synced to the cloud library; then a second, empty Mac (its own folder and
// device id) restores every app of the library through Store::restore, with
// the world's server as every source and as Apple's ticket service.
struct SecondMacSetup {
    demo::WorldLayout world; // the first Mac: its Applications folder, anchors and server documents
    QUrl mock; // the world's server
    SystemVersion macOS { 15, 0, 0 };
    bool appleSilicon = true;
    QString program; // the program whose package sub-commands run installer packages
    std::function<bool()> stopRequested; // Ctrl-C: stop after the current step
};

class SecondMac {
public:
    SecondMac(QTextStream& out, SecondMacSetup setup);
    ~SecondMac();
    SecondMac(const SecondMac&) = delete;
    SecondMac& operator=(const SecondMac&) = delete;

    // None when both emulators are installed, else the sentence why the act
    // can't run and how to get them.
    static std::optional<QString> unavailable();

    // Prints each step as it goes: the emulators, the sync of the first Mac,
    // the library, each app's route and outcome, the notices and a summary.
    // False when it stopped early (Ctrl-C); throws Error when a step fails.
    QCoro::Task<bool> run();
    // Closes both Macs' models and stops the emulators; the destructor does
    // it at the latest.
    void finish();

    // The second Mac, for the window and tests; valid after run().
    Store& secondMac();
    demo::Emulators& emulators() { return m_emulators; }
    // The second Mac's folder: Applications, Trash, its settings.
    QString root() const { return m_setup.world.root + QStringLiteral("/SecondMac"); }
    QString applications() const { return root() + QStringLiteral("/Applications"); }

    static inline const QString firstDevice = QStringLiteral("demo-first-mac");
    static inline const QString secondDevice = QStringLiteral("demo-second-mac");
    static inline const QString email = QStringLiteral("demo@corvanta.example");

private:
    struct Mac;
    std::unique_ptr<Mac> open(const QString& applications, const QString& device, const QString& name,
        const QString& settings, bool packages);
    bool stopping();
    void printLibrary();
    QString summary(int installed, int refused, int yours) const;

    QTextStream& m_out;
    SecondMacSetup m_setup;
    demo::Emulators m_emulators;
    std::unique_ptr<Mac> m_first;
    std::unique_ptr<Mac> m_second;
};

} // namespace corvanta
