#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// Minimal Mach-O images for fixtures: a 64-bit header, __PAGEZERO, __TEXT with
// one __text section of `codeSize` bytes derived from `seed`, and __LINKEDIT.
// They aren't runnable; they are what a signer and verifier see.
namespace MachOWriter {

inline constexpr std::uint32_t x86_64 = 0x01000007;
inline constexpr std::uint32_t arm64 = 0x0100000C;

QByteArray executable(std::uint32_t cpuType, std::uint64_t codeSize = 20000, std::uint32_t seed = 1);
// A dynamic library (file type MH_DYLIB), as frameworks hold.
QByteArray library(std::uint32_t cpuType, std::uint64_t codeSize = 12000, std::uint32_t seed = 1);
// A universal file of the given thin images, each aligned to 16 KiB.
QByteArray universal(const std::vector<std::pair<std::uint32_t, QByteArray>>& slices);

// A real arm64 or x86_64 executable from clang and ld64.lld (arm64 output
// comes linker-signed); empty when the toolchain isn't installed.
QByteArray compiled(const QString& architecture);

} // namespace MachOWriter

} // namespace corvanta::test
