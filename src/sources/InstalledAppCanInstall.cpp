#include "discovery/InstalledApp.h"
#include "sources/Release.h"

namespace corvanta {

bool InstalledApp::canInstall(const std::optional<Release>& release) const
{
    if (!release || !corvanta::canInstall(release->kind) || !release->download || isCorvanta())
        return false;
    if (team)
        return true;
    // Without a developer team only a matching EdDSA signature vouches for the download.
    return edKey && release->download->edSignature;
}

} // namespace corvanta
