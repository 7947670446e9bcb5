#include "../../../fuzz/diskimage_extract_harness.h"
#include "support/DiskImageFixtures.h"
#include "support/UdifFixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;

namespace {

// Every listing in fuzz-regressions/extract (real volumes' listings the
// fuzzer starts from, and what it found) goes through the same harness.
TEST(FuzzRegressions, NoListingChangesAnythingOutsideTheVolume)
{
    // Not __FILE__: the compiler cache makes it relative to the build folder.
    const QDir folder(QStringLiteral(CORVANTA_TESTS_DIR) + u"/unit/diskimage/fuzz-regressions/extract"_s);
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    QTemporaryDir scratch;
    for (const QString& name : names) {
        const QByteArray bytes = test::readWholeFile(folder.filePath(name));
        EXPECT_TRUE(udif::fuzz::extractInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            std::size_t(bytes.size()), QFile::encodeName(scratch.path())))
            << name.toStdString();
    }
    EXPECT_EQ(test::folderEntries(scratch.path()), QStringList {});
}

} // namespace
