#pragma once

// The demo's package writer, under the names the tests use.
#include "demo/XarWriter.h"

namespace corvanta::test {

using demo::componentPackage;
using demo::cpioPayload;
using demo::PayloadCompression;
using demo::XarWriter;

} // namespace corvanta::test
