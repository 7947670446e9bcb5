#pragma once

// What the xar fuzz target runs on each input, shared with the tests so that
// every input the fuzzer found becomes a regression row there. Memory errors
// are the sanitizers' to find; exceptions other than ours escape.

#include "base/Error.h"
#include "codesign/TrustAnchors.h"
#include "package/PackageSignature.h"
#include "package/SignatureReport.h"
#include "package/Xar.h"

#include <cstdint>
#include <fstream>
#include <string>

#include <QDateTime>
#include <QFile>
#include <QStringList>

namespace corvanta::fuzz {

// Reads `data` as a flat package in `folder`: the TOC, every file small
// enough against both its checksums, the signature, and the signature
// report. True when the report holds exactly one status line, whatever the
// package's names say.
inline bool xarInput(const std::string& folder, const std::uint8_t* data, std::size_t size)
{
    const std::string path = folder + "/input.pkg";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    const QString package = QFile::decodeName(QByteArray::fromStdString(path));
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    try {
        const xar::Archive archive = xar::Archive::open(package);
        for (const xar::Entry& entry : archive.entries()) {
            try {
                archive.readAll(entry, 1 << 20);
            } catch (const Error&) {
                // A damaged file is an answer; the next one is read all the same.
            }
        }
        PackageSignature::check(archive, codesign::TrustAnchors(), now);
    } catch (const Error&) {
        // Refusing the package is an answer too.
    }
    const QStringList lines = signatureReport(package, codesign::TrustAnchors(), now).text.split(u'\n');
    qsizetype statusLines = 0;
    for (const QString& line : lines)
        statusLines += line.trimmed().startsWith(QStringLiteral("Status: ")) ? 1 : 0;
    return statusLines == 1;
}

} // namespace corvanta::fuzz
