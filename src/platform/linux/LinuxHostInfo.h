#pragma once

#include "platform/HostInfo.h"

namespace corvanta {

// This build stands in for a Mac: the system version it reports is a setting
// (CORVANTA_MACOS_VERSION, default 15.0.0) and it is "Apple silicon" when the
// build itself runs on 64-bit ARM, unless CORVANTA_APPLE_SILICON says 1 or 0.
class LinuxHostInfo : public HostInfo {
public:
    LinuxHostInfo();

    SystemVersion systemVersion() const override { return m_version; }
    bool isAppleSilicon() const override { return m_appleSilicon; }

    static constexpr SystemVersion defaultVersion { 15, 0, 0 };

private:
    SystemVersion m_version;
    bool m_appleSilicon;
};

} // namespace corvanta
