#pragma once

#include "codesign/TrustAnchors.h"
#include "platform/Gatekeeper.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QDateTime>
#include <QUrl>

namespace corvanta {

// What our own Gatekeeper judges by.
struct GatekeeperSettings {
    codesign::TrustAnchors anchors; // Apple's roots in production
    std::optional<QUrl> ticketService; // none: notarization is never established
    std::function<QDateTime()> clock; // default: now
    bool checkRevocation = true; // ask the certificates' OCSP responders
    std::chrono::milliseconds revocationDeadline { 4000 };
};

// The Linux Gatekeeper over our own verifiers: flat packages through the xar
// reader, apps through the code-signature validator; Developer ID means the
// Developer ID authority's mark on the intermediate and the leaf's mark for
// installers (packages) or applications (apps).
std::unique_ptr<Gatekeeper> portableGatekeeper(GatekeeperSettings settings);

// The same settings for this program: the anchors in `anchorFolder` and the
// ticket service at `ticketService` (Apple's when none is given).
GatekeeperSettings gatekeeperSettings(
    const QString& anchorFolder, const std::optional<QString>& ticketService);

} // namespace corvanta
