#pragma once

#include "diskimage/UdifImage.h"

#include <functional>
#include <map>

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// A real image of ../shared/realworld/dmg by file name.
QString realDiskImage(const QString& name);

QByteArray readWholeFile(const QString& path);
void writeWholeFile(const QString& path, const QByteArray& bytes);

// The whole disk inside the image, every partition at its sector.
QByteArray decompressDisk(udif::UdifImage& image);

// Recomputes the data fork CRC32 in the trailer of an image held in memory,
// so a change to the data reaches the decoders instead of the checksum test.
void resealDataFork(QByteArray& image);

// The image at `path` with its resources and trailer changed by `change`,
// the property list written anew after the unchanged data fork.
QByteArray rebuiltImage(
    const QString& path, const std::function<void(std::vector<udif::Resource>&, udif::Trailer&)>& change);

// Offset and length in the file of the first chunk of `type` (none: -1, 0).
std::pair<qint64, qint64> firstChunkOf(const QString& path, udif::ChunkType type);

// Disk images a hostile maker could ship, each wrapped by writeUdif as one
// whole-disk partition.
// The tree at `folder` as a plain ISO 9660 volume with Rock Ridge (xorriso),
// every occurrence of a key of `renames` in the volume's bytes replaced by its
// value of the same length: how a forged volume names two entries alike or
// puts a '/' inside a name.
void writeIsoImage(
    const QString& folder, const QString& output, const std::map<QByteArray, QByteArray>& renames = {});
// The tree at `folder` as an ext4 volume of `volumeBytes` (mke2fs), sparse
// files kept sparse.
void writeExtImage(const QString& folder, const QString& output, qint64 volumeBytes);
// A partition of `chunks` MiB of zeros whose zlib chunks all decompress the
// same few hundred stored bytes.
void writeZeroBomb(const QString& output, int chunks);

} // namespace corvanta::test
