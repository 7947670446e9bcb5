#pragma once

#include "platform/CodeSigning.h"

#include <mutex>
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
        {
            // A scan reads bundles on several threads.
            const std::lock_guard lock(m_guard);
            asked.append(path);
        }
        if (throws)
            throw std::runtime_error("signature reader failed");
        return byPath.value(path);
    }

    QMap<QString, SigningInformation> byPath;
    bool throws = false;
    mutable QStringList asked;

private:
    mutable std::mutex m_guard;
};

} // namespace corvanta::test
