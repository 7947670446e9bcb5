#pragma once

#include "demo/HttpServer.h"

#include <QString>

namespace corvanta::demo {

// The update services of a demo world, played from the files under
// `documents`, at the paths the readers use:
//   lookup?bundleId=…&country=…            lookup/<bundleId>.json, or no results
//   cask/<token>                           cask/<token>.json
//   repos/<owner>/<repo>/releases/latest   repos/<owner>/<repo>/releases/latest.json
//   POST tickets                           the notarization ticket service (TicketRoute)
//   anything else                          the file at that path (api/cask.json, feeds, downloads)
// Files carry Content-Length, ETag and Last-Modified and answer conditional
// requests with 304; downloads carry Content-Disposition. Paths never leave
// `documents`.
namespace WorldRoutes {

HttpReply answer(const QString& documents, const HttpRequest& request);

} // namespace WorldRoutes

} // namespace corvanta::demo
