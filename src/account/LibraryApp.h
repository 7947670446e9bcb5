#pragma once

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <QDateTime>
#include <QString>

namespace corvanta {

// One app document of the cloud library: what every Mac of the account
// reported about an app, keyed by its bundle identifier.
struct LibraryApp {
    // What one Mac last said about the app.
    struct OnDevice {
        QString version;
        bool installed = false;
        QDateTime seen;

        friend bool operator==(const OnDevice&, const OnDevice&) = default;
    };

    QString id; // the bundle identifier, also the document id
    QString name;
    std::optional<QString> team;
    std::optional<QString> source; // the label of the source that last found a release
    std::optional<QString> caskToken;
    std::optional<QString> feedURL;
    std::optional<QString> edKey;
    std::optional<QString> githubRepo;
    std::optional<QString> storeURL;
    std::optional<QString> homepage;
    std::map<QString, OnDevice> devices; // by device id

    // The optional string fields by their document field names, in document order.
    using StringField = std::optional<QString> LibraryApp::*;
    static const std::vector<std::pair<QString, StringField>>& stringFields();

    // The stored string under a document field name ("name", "team", …);
    // none when absent or not one of the string fields.
    std::optional<QString> field(QStringView key) const;

    friend bool operator==(const LibraryApp&, const LibraryApp&) = default;
};

// One Mac of the account, as its own document describes it.
struct Device {
    QString id;
    QString name;
    QString model; // the hardware model identifier; empty when unknown
    QDateTime lastSeen;
    std::optional<QString> hardware; // the salted, hashed hardware id

    friend bool operator==(const Device&, const Device&) = default;
};

} // namespace corvanta
