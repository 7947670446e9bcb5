#include "../../../fuzz/codesign_harness.h"
#include "support/SigningFixtures.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;

namespace {

// Every input the fuzz targets found (fuzz-regressions/, named after the
// target: macho-… or requirement-…) goes through the same harness here.
TEST(FuzzRegressions, EveryFoundInputHoldsItsInvariants)
{
    // Not __FILE__: the compiler cache makes it relative to the build folder.
    const QDir folder(QStringLiteral(CORVANTA_TESTS_DIR) + u"/unit/codesign/fuzz-regressions"_s);
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names) {
        const QByteArray bytes = test::readFile(folder.filePath(name));
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        const auto size = std::size_t(bytes.size());
        if (name.startsWith(u"macho-"))
            EXPECT_TRUE(codesign::fuzz::machOInput(data, size)) << name.toStdString();
        else
            EXPECT_TRUE(codesign::fuzz::requirementInput(data, size)) << name.toStdString();
    }
}

// The fuzzers start from these; they must pass the harness as they are.
TEST(FuzzRegressions, RealSignaturesPassTheHarness)
{
    for (const QString& name : QDir(test::realworld(u"macho"_s, QString())).entryList(QDir::Files)) {
        const QByteArray bytes = test::readFile(test::realworld(u"macho"_s, name));
        EXPECT_TRUE(codesign::fuzz::machOInput(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())))
            << name.toStdString();
    }
}

} // namespace
