#include "platform/ThisMac.h"

#include <QSysInfo>

using namespace Qt::StringLiterals;

namespace corvanta {

// The firmware's product name and UUID stand in for the Mac's model and
// platform UUID; the UUID is readable by root only on most systems, so the
// installation's machine id is the usual answer.
ThisMac::Sources ThisMac::Sources::system()
{
    return {
        .model = u"/sys/class/dmi/id/product_name"_s,
        .hardwareUUID = u"/sys/class/dmi/id/product_uuid"_s,
        .installationID = u"/etc/machine-id"_s,
        .hostName = QSysInfo::machineHostName(),
    };
}

} // namespace corvanta
