#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>

namespace corvanta {

// One generic-password item per (service, account), read and written
// synchronously on the caller's thread without an event loop of its own. It
// never shows a prompt: a locked, denied, absent or unresponsive keychain
// reads as "no item", and every call returns by its deadline (plus a short
// margin should the machine be starved).
class SecretStore {
public:
    static constexpr std::chrono::milliseconds defaultDeadline { 1500 };

    virtual ~SecretStore() = default;

    // The item's data, or none when there is no item or the keychain fails.
    virtual std::optional<QByteArray> read(const QString& service, const QString& account) = 0;

    // Replaces the item's data; false when the keychain did not take it.
    virtual bool write(const QString& service, const QString& account, const QByteArray& data) = 0;

    // True when no item remains, including when there was none.
    virtual bool remove(const QString& service, const QString& account) = 0;

    static std::unique_ptr<SecretStore> create(std::chrono::milliseconds deadline = defaultDeadline);
};

} // namespace corvanta
