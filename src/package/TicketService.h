#pragma once

#include "platform/Gatekeeper.h"

#include <chrono>

#include <QUrl>

namespace corvanta {

// Apple's notarization ticket service, asked the way Gatekeeper asks it: one
// POST of {"records":[{"recordName":"2/<hash type>/<hash in hex>"}]}; the
// ticket exists when the record comes back with a "signedTicket" field, and
// doesn't when it comes back "NOT_FOUND". Blocks up to its deadline.
class TicketLookup : public Gatekeeper::TicketService {
public:
    explicit TicketLookup(QUrl endpoint, std::chrono::milliseconds deadline = std::chrono::seconds(5));

    Result lookup(const Gatekeeper::NotaryHash& hash) const override;

    static QString recordName(const Gatekeeper::NotaryHash& hash);
    // Where Apple's service answers.
    static QUrl appleEndpoint();

private:
    QUrl m_endpoint;
    std::chrono::milliseconds m_deadline;
};

} // namespace corvanta
