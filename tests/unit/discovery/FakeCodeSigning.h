#pragma once

#include "platform/CodeSigning.h"

#include <stdexcept>

#include <QMap>
#include <QStringList>

namespace corvanta::test {

// Signing information handed out per path, for tests that can't carry real
// signed code; records what it was asked.
class FakeCodeSigning : public CodeSigning {
public:
    SigningInformation signing(const QString& path) const override
    {
        asked.append(path);
        if (throws)
            throw std::runtime_error("signature reader failed");
        return byPath.value(path);
    }

    QMap<QString, SigningInformation> byPath;
    bool throws = false;
    mutable QStringList asked;
};

} // namespace corvanta::test
