#pragma once

#include "sources/Release.h"

#include <variant>

#include <QList>
#include <QString>
#include <QUrl>

namespace corvanta {

// The way an app of the library gets onto this Mac.
struct Route {
    // Releases that can be downloaded and verified, in the order to try them.
    struct Install {
        QList<Release> candidates;
        friend bool operator==(const Install&, const Install&) = default;
    };
    // The app's Mac App Store page.
    struct Store {
        QUrl link;
        friend bool operator==(const Store&, const Store&) = default;
    };
    // A page for the user, and why nothing can be installed automatically.
    struct Manual {
        QUrl page;
        QString reason;
        friend bool operator==(const Manual&, const Manual&) = default;
    };

    std::variant<Install, Store, Manual> way;

    const Install* install() const { return std::get_if<Install>(&way); }
    const Store* store() const { return std::get_if<Store>(&way); }
    const Manual* manual() const { return std::get_if<Manual>(&way); }
    // The route leaves the installing to the user.
    bool needsUser() const { return !install(); }

    friend bool operator==(const Route&, const Route&) = default;
};

} // namespace corvanta
