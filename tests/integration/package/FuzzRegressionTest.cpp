#include "../../../fuzz/package_xar_harness.h"
#include "support/SigningFixtures.h"

#include <map>

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace corvanta {
namespace {

const QString regressions = QStringLiteral(CORVANTA_TESTS_DIR "/integration/package/fuzz-regressions/xar");

// Every input the fuzzer starts from or found goes through its harness, and
// the reader says of each what it is.
TEST(XarRegressions, EachInputAsTheReaderSeesIt)
{
    const std::map<QString, QString> opened {
        { u"xar-minimal-unsigned"_s, u"(opens)"_s },
        { u"xar-document-type"_s,
            u"The installer package is damaged: its table of contents declares a document type."_s },
        { u"xar-dot-dot-name"_s, u"The installer package is damaged: it names a file \u201c..\u201d."_s },
        { u"xar-offset-past-end"_s,
            u"The installer package is damaged: \u201cPayload\u201d lies outside it."_s },
        { u"xar-inflated-size-lies"_s, u"(opens)"_s },
        { u"xar-truncated-header"_s, u"The installer package isn't a flat package Corvanta can read."_s },
    };
    QTemporaryDir scratch;
    const QStringList inputs = QDir(regressions).entryList(QDir::Files, QDir::Name);
    EXPECT_GE(inputs.size(), qsizetype(opened.size()));
    for (const QString& name : inputs) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = test::readFile(regressions + u'/' + name);
        EXPECT_TRUE(fuzz::xarInput(QFile::encodeName(scratch.path()).toStdString(),
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
        if (!opened.count(name))
            continue;
        QString outcome = u"(opens)"_s;
        try {
            xar::Archive::open(regressions + u'/' + name);
        } catch (const Error& error) {
            outcome = error.description();
        }
        EXPECT_EQ(outcome, opened.at(name));
    }
    // A size the TOC states wrongly shows when the file is read.
    const xar::Archive lying = xar::Archive::open(regressions + u"/xar-inflated-size-lies"_s);
    EXPECT_THROW(lying.readAll(lying.entries().front()), xar::XarError);
}

} // namespace
} // namespace corvanta
