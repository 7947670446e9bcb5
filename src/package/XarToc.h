#pragma once

#include "package/Xar.h"

namespace corvanta::xar {

// What the table of contents says, before any of it is checked against the heap.
struct Toc {
    QString checksumStyle;
    quint64 checksumOffset = 0;
    quint64 checksumSize = 0;
    std::optional<Signature> signature; // style "RSA"
    bool cmsSignature = false; // an x-signature of style "CMS"
    std::vector<Entry> entries; // depth first, in document order
};

// Parses the decompressed TOC. Throws XarError for XML that isn't a sound
// TOC: a document type, a name that isn't a plain file name, a path named
// twice, nesting past 64 levels, numbers that aren't numbers.
Toc parseToc(const QByteArray& xml);

} // namespace corvanta::xar
