#pragma once

#include <vector>

#include <QByteArray>

namespace corvanta::demo {

enum class Architecture { arm64, x86_64 };

// Mach-O executables for the sample apps: well-formed headers, a __TEXT
// segment whose code page carries `marker` (so two versions of an app differ
// in their code, not just their Info.plist) and a __LINKEDIT segment at the
// end, where a code signature goes. One architecture gives a thin file, more
// a universal one. They are never run; only their headers and pages are read.
QByteArray machOExecutable(const std::vector<Architecture>& architectures, const QByteArray& marker);

} // namespace corvanta::demo
