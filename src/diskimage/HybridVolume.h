#pragma once

#include "diskimage/UdifWriter.h"

#include <vector>

#include <QString>

namespace corvanta::udif {

// Builds a raw disk holding the tree at `folder` as an HFS+ volume named
// `volumeName` (symbolic links as written, modes and times kept), without
// mounting anything: xorriso's hybrid ISO 9660 + HFS+ image with an Apple
// partition map. Returns the partitions for writeUdif, the HFS+ one reaching
// to the end of the disk since its files live there. Throws Error when
// xorriso fails or isn't installed.
std::vector<DiskPartition> buildHybridVolume(
    const QString& folder, const QString& volumeName, const QString& rawDisk);

// buildHybridVolume and writeUdif through a private temporary file.
void writeDiskImage(const QString& folder, const QString& volumeName, const QString& output,
    const WriteOptions& options = {});

} // namespace corvanta::udif
