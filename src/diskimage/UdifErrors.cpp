#include "diskimage/UdifErrors.h"

using namespace Qt::StringLiterals;

namespace corvanta::udif {

QString notCompleteDiskImageMessage()
{
    return u"The file isn't a complete disk image."_s;
}

QString encryptedMessage()
{
    return u"The disk image is encrypted. Corvanta can't open encrypted disk images."_s;
}

QString damagedMessage()
{
    return u"The disk image is damaged."_s;
}

QString checksumMismatchMessage()
{
    return u"The disk image is damaged: its checksum doesn't match its contents."_s;
}

QString undecodableMessage()
{
    return u"The disk image is damaged: part of it can't be decompressed."_s;
}

QString unsupportedCompressionMessage()
{
    return u"The disk image uses a kind of compression Corvanta can't read."_s;
}

QString segmentedMessage()
{
    return u"The disk image is split into several segments, which Corvanta can't open."_s;
}

} // namespace corvanta::udif
