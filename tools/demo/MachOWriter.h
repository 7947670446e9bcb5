#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <QByteArray>

namespace corvanta::demo {

enum class Architecture { arm64, x86_64 };

// What a thin image is to the loader: MH_EXECUTE or MH_DYLIB (as frameworks hold).
enum class MachOKind : std::uint32_t { executable = 2, library = 6 };

// A thin Mach-O image for `cpuType` (CpuType::arm64, CpuType::x86_64): a
// well-formed header, __PAGEZERO, a __TEXT segment whose __text section holds
// a return instruction, `marker` and then at least `codeSize` bytes in all of
// filler derived from the marker (so two versions of an app differ in their
// code, not just their Info.plist), and a __LINKEDIT segment at the end, where
// a code signature goes. Never run; only its headers and pages are read.
QByteArray machOImage(std::uint32_t cpuType, const QByteArray& marker, qint64 codeSize = 0,
    MachOKind kind = MachOKind::executable);
// A universal file of thin images, each on a 16 KiB page.
QByteArray machOUniversal(const std::vector<std::pair<std::uint32_t, QByteArray>>& slices);

// An executable for the sample apps: thin for one architecture, universal for more.
QByteArray machOExecutable(const std::vector<Architecture>& architectures, const QByteArray& marker);

} // namespace corvanta::demo
