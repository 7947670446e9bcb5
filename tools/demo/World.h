#pragma once

#include "demo/BundleSigner.h"
#include "demo/Manifest.h"

#include <QUrl>

namespace corvanta::demo {

class WorldBuilder;

// Makes a fresh demo world in `root` whose every URL starts with `base` (the
// address the server will listen on): the sample apps in Applications, what
// each update source says about them and their downloads under Server, the
// demo authority's root under Anchors, and manifest.json. `root` must be
// missing, empty, or hold an earlier world, which is replaced. Keys are new
// every time. Throws Error.
Manifest makeWorld(const QString& root, const QUrl& base, BundleSigner* signer);

// The sample apps and everything the sources say about them.
void addSampleApps(WorldBuilder& world);

} // namespace corvanta::demo
