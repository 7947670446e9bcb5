#pragma once

#include "platform/Permissions.h"

#include <memory>

#include <QCoro/QCoroTask>
#include <QString>

namespace corvanta {

// The system's notification centre: asks leave to alert and delivers at once.
class Notifier {
public:
    // One notification; a later one with the same identifier replaces it.
    struct Request {
        QString identifier;
        QString title;
        QString body;
    };

    virtual ~Notifier() = default;

    // Asks to show alerts with sound; what the centre answers. Never throws.
    virtual QCoro::Task<Permissions::Notifications> requestAuthorization() = 0;
    // Delivers `request` now. A refusal, or no centre at all, drops it
    // silently: a notification is a courtesy, never an error.
    virtual QCoro::Task<> add(Request request) = 0;

    // The desktop's own notification centre.
    static std::unique_ptr<Notifier> create();
};

} // namespace corvanta
