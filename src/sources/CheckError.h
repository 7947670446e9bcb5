#pragma once

#include "base/Error.h"

namespace corvanta {

// What every source reader throws for its own failures; the text is what
// the attempt records.
class CheckError : public Error {
public:
    using Error::Error;
};

} // namespace corvanta
