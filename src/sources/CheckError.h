#pragma once

#include "base/Error.h"

#include <QJsonParseError>

namespace corvanta {

// What every source reader throws for its own failures; the text is what
// the attempt records.
class CheckError : public Error {
public:
    using Error::Error;

    // A JSON answer that doesn't parse, with the parser's own words.
    static CheckError invalidJson(const QJsonParseError& error)
    {
        return CheckError(QStringLiteral("The answer isn't valid JSON (%1 at byte %2)")
                              .arg(error.errorString())
                              .arg(error.offset));
    }
};

} // namespace corvanta
