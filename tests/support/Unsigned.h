#pragma once

#include "platform/CodeSigning.h"

namespace corvanta::test {

// Code signing for tests whose apps carry no signature and whose outcome
// doesn't hinge on one: nothing is signed, nothing validates.
class Unsigned : public CodeSigning {
public:
    SigningInformation signing(const QString&) const override { return {}; }
};

} // namespace corvanta::test
