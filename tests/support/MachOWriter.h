#pragma once

#include "demo/MachOWriter.h"

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QString>

namespace corvanta::test {

// The demo's Mach-O images with a code size and a seed that makes two
// "versions" differ in their code.
namespace MachOWriter {

inline constexpr std::uint32_t x86_64 = 0x01000007;
inline constexpr std::uint32_t arm64 = 0x0100000C;

inline QByteArray executable(std::uint32_t cpuType, std::uint64_t codeSize = 20000, std::uint32_t seed = 1)
{
    return demo::machOImage(cpuType, QByteArray::number(seed), qint64(codeSize));
}
// A dynamic library, as frameworks hold.
inline QByteArray library(std::uint32_t cpuType, std::uint64_t codeSize = 12000, std::uint32_t seed = 1)
{
    return demo::machOImage(cpuType, QByteArray::number(seed), qint64(codeSize), demo::MachOKind::library);
}
inline QByteArray universal(const std::vector<std::pair<std::uint32_t, QByteArray>>& slices)
{
    return demo::machOUniversal(slices);
}

// A real arm64 or x86_64 executable from clang and ld64.lld (arm64 output
// comes linker-signed); empty when the toolchain isn't installed.
QByteArray compiled(const QString& architecture);

} // namespace MachOWriter

} // namespace corvanta::test
