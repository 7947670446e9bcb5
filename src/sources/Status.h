#pragma once

#include <QString>

namespace corvanta {

// An app's status as the list shows it. Only `cantVerify` and `ignored`
// carry a text, which says why and is shown as it stands.
struct Status {
    enum class Kind { checking, update, upToDate, cantVerify, ignored };

    Kind kind = Kind::checking;
    QString text;

    static Status checking() { return { Kind::checking, {} }; }
    static Status update() { return { Kind::update, {} }; }
    static Status upToDate() { return { Kind::upToDate, {} }; }
    static Status cantVerify(QString why) { return { Kind::cantVerify, std::move(why) }; }
    static Status ignored(QString why) { return { Kind::ignored, std::move(why) }; }

    // "checking", "update", "upToDate", "cantVerify" or "ignored".
    static QString name(Kind kind)
    {
        switch (kind) {
        case Kind::checking:
            return QStringLiteral("checking");
        case Kind::update:
            return QStringLiteral("update");
        case Kind::upToDate:
            return QStringLiteral("upToDate");
        case Kind::cantVerify:
            return QStringLiteral("cantVerify");
        case Kind::ignored:
            return QStringLiteral("ignored");
        }
        return {};
    }
    QString name() const { return name(kind); }

    friend bool operator==(const Status&, const Status&) = default;
};

} // namespace corvanta
