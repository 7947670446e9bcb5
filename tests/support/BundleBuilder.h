#pragma once

#include "demo/BundleBuilder.h"

namespace corvanta::test {

using demo::BundleBuilder;

} // namespace corvanta::test
