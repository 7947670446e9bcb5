#pragma once

#include "demo/DemoServer.h"
#include "demo/DemoSigner.h"
#include "demo/Manifest.h"
#include "demo/World.h"

#include <memory>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvanta::test {

// A demo world made in a temporary folder, signed by a fresh demo authority
// and served on a free port, as `corvanta demo` runs it: the server listens
// first, so the world is made for its address.
struct ServedWorld {
    ServedWorld()
        : layout { folder.path() + QStringLiteral("/world") }
        , server(std::make_unique<demo::DemoServer>(layout.documents()))
    {
        EXPECT_TRUE(server->listen());
        QElapsedTimer timer;
        timer.start();
        manifest = demo::makeWorld(layout.root, server->base(), &signer);
        milliseconds = timer.elapsed();
    }

    QTemporaryDir folder;
    demo::DemoSigner signer;
    demo::WorldLayout layout;
    std::unique_ptr<demo::DemoServer> server;
    demo::Manifest manifest;
    qint64 milliseconds = 0;
};

} // namespace corvanta::test
