#pragma once

#include <optional>

#include <QString>

class QSettings;

namespace corvanta {

// Who this Mac is to the cloud library: a device id of its own, the name and
// model it shows to the other Macs, and a salted hash of its hardware id that
// tells a reinstalled Mac from a new one. The raw hardware id never leaves
// this object.
class ThisMac {
public:
    // Where the machine's facts are read. The platform's own by default;
    // tests point them at temporary files and a chosen host name.
    struct Sources {
        QString model; // a file holding the hardware model
        QString hardwareUUID; // a file holding the firmware's hardware UUID
        QString installationID; // a file holding an id of this installation, when the firmware gives none
        QString hostName;

        static Sources system();
    };

    // The device id is the `argument` of --device-id when given, else the one
    // stored under "deviceID" in `defaults`, else a new one stored there at once.
    ThisMac(const std::optional<QString>& argument, QSettings& defaults, Sources sources = Sources::system());

    const QString& deviceID() const { return m_deviceID; }
    // `chosen` (the user's own name for this Mac) when not empty, else the
    // host name, else "This Mac".
    QString name(const QString& chosen) const;
    // The hardware model; empty when it can't be read.
    QString model() const;
    // The hardware UUID, else the installation id, else the device id, salted
    // and hashed; worked out once.
    const QString& platformHardwareID() const;

    // SHA-256 of the salt followed by `raw`, as 64 lower-case hex digits.
    static QString hashed(const QString& raw);

    static inline const QString salt = QStringLiteral("corvanta:");
    static inline const QString deviceIDKey = QStringLiteral("deviceID");

private:
    QString m_deviceID;
    Sources m_sources;
    mutable std::optional<QString> m_hardwareID;
};

} // namespace corvanta
