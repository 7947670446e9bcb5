#pragma once

#include "demo/HttpServer.h"

#include <QString>

namespace corvanta::demo {

// Apple's notarization ticket lookup as a demo world plays it: POST
// {"records":[{"recordName":"2/2/<hex>"}…]} and every record comes back with
// a "signedTicket" when the world notarized that download, else NOT_FOUND.
namespace TicketRoute {

// Below the documents: a JSON array of the notarized downloads' record names.
inline const QString records = QStringLiteral("tickets/records.json");

HttpReply answer(const QString& documents, const HttpRequest& request);

} // namespace TicketRoute

} // namespace corvanta::demo
