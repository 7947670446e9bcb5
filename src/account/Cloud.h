#pragma once

#include "account/CloudConfig.h"
#include "account/CloudValue.h"
#include "account/LibraryApp.h"
#include "account/Session.h"
#include "discovery/InstalledApp.h"
#include "sources/Release.h"

#include <optional>
#include <vector>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace corvanta {

class Net;

// The library client: the settings it talks to and the signed-in session it
// talks as, its ID token fresh when it was handed out. Every document lives
// under "users/<uid>" in Firestore, reached over its REST interface through
// the process's one HTTP session. The client must outlive the tasks it starts.
//
// Failures the server states are thrown as CheckError with the sentence the
// user reads; transport failures as Error.
struct Cloud {
    CloudConfig config;
    Session session;

    using Value = CloudValue;

    // One installed app with the newest release its check found.
    struct Installed {
        InstalledApp app;
        std::optional<Release> release;
    };

    // Every app document, decoded; undecodable ones are left out.
    QCoro::Task<std::vector<LibraryApp>> apps(Net& net) const;
    // Every device document, decoded.
    QCoro::Task<std::vector<Device>> devices(Net& net) const;
    // Writes this Mac's state: its device document (`mac`, whose `lastSeen`
    // is the moment of the sync), each installed app that is new or changed
    // against `library`, and "not installed" for each app it no longer has.
    // Returns the number of writes sent.
    QCoro::Task<int> sync(
        Net& net, Device mac, std::vector<Installed> installed, std::vector<LibraryApp> library) const;
    // Deletes these app documents.
    QCoro::Task<> remove(Net& net, QStringList ids) const;
    // Deletes every app and device document and the user document.
    QCoro::Task<> deleteLibrary(Net& net) const;
    // Writes the user document; "createdAt" only when it has none yet. A
    // read that fails writes nothing, so the creation date is never lost.
    QCoro::Task<> saveProfile(Net& net, std::optional<QString> name, QString email, QDateTime now) const;

    // ---- The pieces, public for the tests -----------------------------------

    // One write that sets exactly `fields` on the document at `path` (relative
    // to the database's documents) and leaves every other field as it is.
    QJsonObject write(const QString& path, const CloudFields& fields) const;
    // Sends `writes` in order, in batches of `batchSize`; a failed batch
    // throws and stops the rest. Nothing is sent for none.
    QCoro::Task<> commit(Net& net, std::vector<QJsonObject> writes) const;

    // An app or device document as Firestore returns it; none without a
    // string "name" (the document's full resource path).
    static std::optional<LibraryApp> app(const QJsonObject& document);
    static std::optional<Device> device(const QJsonObject& document);

    // Whether `id` may be a document id: not empty, no "/", not "." or "..",
    // not wrapped in "__", at most 1500 UTF-8 bytes.
    static bool storable(const QString& id);
    // Whether this Mac's copy of an app belongs in the library: Apple's own
    // apps only when they came from the App Store.
    static bool syncs(const InstalledApp& app);

    // "projects/<project>/databases/(default)/documents/" + path.
    QString documentName(const QString& path) const;
    // "users/<uid>"
    QString userPath() const;

    // What a missing timestamp reads as.
    static const QDateTime distantPast;
    static constexpr int pageSize = 300;
    static constexpr int batchSize = 400;

private:
    // The one HTTP exchange with the documents endpoint; `rest` follows
    // ".../documents" ("/users/…" or ":commit"), `query` is already encoded.
    // With `absentIsEmpty` a 404 answers an empty object.
    QCoro::Task<QJsonObject> request(Net& net, QByteArray method, QString rest, QString query,
        std::optional<QJsonObject> body, bool absentIsEmpty = false) const;
    // Every document of the collection at `path`, page by page.
    QCoro::Task<std::vector<QJsonObject>> list(Net& net, QString path) const;
};

} // namespace corvanta
