#pragma once

#include <QString>

namespace corvanta::udif {

// The sentences a user reads when an image can't be opened.
QString notCompleteDiskImageMessage();
QString encryptedMessage();
QString damagedMessage();
QString checksumMismatchMessage();
QString undecodableMessage();
QString unsupportedCompressionMessage();
QString segmentedMessage();

} // namespace corvanta::udif
