#pragma once

#include "platform/DiskImages.h"

#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta::udif {

// One classic Mac OS resource, as a UDIF image keeps it in the property
// list's "resource-fork" dictionary or in its binary resource fork.
struct Resource {
    QByteArray type; // four characters: "blkx", "LPic", "STR#", "TEXT", "RTF ", "styl", ...
    int id = 0;
    QString name;
    QByteArray data;
};

// The resources of a binary resource fork (the classic Resource Manager
// layout); none when it is malformed.
std::optional<std::vector<Resource>> parseResourceFork(const QByteArray& fork);

// The agreement described by the "LPic" resource and its "STR#", "TEXT" or
// "RTF " resources: the English one, else the image's default. None when
// there is no "LPic" or its text is missing.
std::optional<LicenseAgreement> readLicenseAgreement(const std::vector<Resource>& resources);

// The resources that make an image show `text` as its English agreement.
std::vector<Resource> licenseResources(const QString& text);

} // namespace corvanta::udif
