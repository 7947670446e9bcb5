#include "platform/ThisMac.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSettings>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// The trimmed first line of a small file; none when unreadable or blank.
std::optional<QString> firstLine(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString line = QString::fromUtf8(file.readLine(4096)).trimmed();
    return line.isEmpty() ? std::nullopt : std::optional(line);
}

} // namespace

ThisMac::ThisMac(const std::optional<QString>& argument, QSettings& defaults, Sources sources)
    : m_sources(std::move(sources))
{
    if (argument && !argument->isEmpty()) {
        m_deviceID = *argument;
        return;
    }
    const QVariant stored = defaults.value(deviceIDKey);
    if (stored.typeId() == QMetaType::QString && !stored.toString().isEmpty()) {
        m_deviceID = stored.toString();
        return;
    }
    m_deviceID = u'd' + QUuid::createUuid().toString(QUuid::Id128).toLower();
    defaults.setValue(deviceIDKey, m_deviceID);
    defaults.sync();
}

QString ThisMac::name(const QString& chosen) const
{
    if (!chosen.isEmpty())
        return chosen;
    if (!m_sources.hostName.isEmpty())
        return m_sources.hostName;
    return u"This Mac"_s;
}

QString ThisMac::model() const
{
    return firstLine(m_sources.model).value_or(QString());
}

const QString& ThisMac::platformHardwareID() const
{
    if (!m_hardwareID) {
        const QString raw = firstLine(m_sources.hardwareUUID)
                                .value_or(firstLine(m_sources.installationID).value_or(m_deviceID));
        m_hardwareID = hashed(raw);
    }
    return *m_hardwareID;
}

QString ThisMac::hashed(const QString& raw)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((salt + raw).toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace corvanta
