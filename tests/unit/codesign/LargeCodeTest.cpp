#include "codesign/CodeSigner.h"
#include "codesign/PortableCodeSigning.h"
#include "codesign/SignedImage.h"
#include "support/MachOWriter.h"
#include "support/SigningFixtures.h"
#include "support/TestAuthority.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace corvanta;
using namespace corvanta::codesign;

namespace {

// Code large enough to be hashed in shares on several threads: a changed
// byte at either side of the shares' boundary, or in the very last page,
// must fail as surely as one in a small file.
TEST(LargeCode, EveryShareOfItsPagesIsChecked)
{
    const test::TestAuthority authority;
    QTemporaryDir dir;
    const QString app = test::makeSampleApp(dir.path());
    const QString executable = app + u"/Contents/MacOS/Example"_s;
    constexpr qint64 size = 72ll << 20;
    {
        QFile file(executable);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(test::MachOWriter::executable(cpu::arm64, size));
    }
    SigningOptions options;
    options.identity = authority.developerId(u"TESTTEAM01"_s);
    CodeSigner(options).sign(app);
    const PortableCodeSigning signing { authority.anchors() };
    ASSERT_EQ(signing.checkValidity(app, ValidityFlags::installer, std::nullopt).status, SigningStatus::ok);

    // Pages are 4 KiB; two shares meet in the middle of the code.
    const qint64 code = test::signatureLayout(executable).superBlob;
    const qint64 middle = code / 2 / 4096 * 4096;
    for (const qint64 offset : { middle - 1, middle, middle + 4096, code - 1 }) {
        SCOPED_TRACE(offset);
        test::flipByte(executable, offset);
        EXPECT_EQ(signing.checkValidity(app, ValidityFlags::installer, std::nullopt).status,
            SigningStatus::signatureFailed);
        test::flipByte(executable, offset);
    }
}

} // namespace
