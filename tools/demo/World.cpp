#include "demo/World.h"

#include "base/Error.h"
#include "demo/WorldBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace corvanta::demo {

namespace {

// What a world consists of; only these are removed when a world is made again.
QStringList worldEntries(const WorldLayout& layout)
{
    return { layout.applications(), layout.documents(), layout.anchors(), layout.manifest(),
        layout.root + u"/Caches"_s, layout.trash(), layout.library(), layout.preferences() };
}

void prepare(const WorldLayout& layout)
{
    QDir root(layout.root);
    if (!root.exists()) {
        if (!QDir().mkpath(layout.root))
            throw Error(u"Couldn't create "_s + layout.root + u'.');
        return;
    }
    const QStringList entries
        = root.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (entries.isEmpty())
        return;
    if (!QFileInfo::exists(layout.manifest()))
        throw Error(layout.root + u" isn't empty and holds no demo world; choose an empty or new folder."_s);
    for (const QString& entry : worldEntries(layout)) {
        const QFileInfo info(entry);
        const bool removed = !info.exists() && !info.isSymLink() ? true
            : info.isDir() && !info.isSymLink()                  ? QDir(entry).removeRecursively()
                                                                 : QFile::remove(entry);
        if (!removed)
            throw Error(u"Couldn't remove the earlier world's "_s + entry + u'.');
    }
}

} // namespace

Manifest makeWorld(const QString& root, const QUrl& base, BundleSigner* signer)
{
    if (!base.isValid() || base.scheme() != u"http" || base.host().isEmpty())
        throw Error(u"The demo world needs an http address for its server."_s);
    const WorldLayout layout { QDir(root).absolutePath() };
    prepare(layout);
    WorldBuilder world(layout, base, signer);
    addSampleApps(world);
    return world.finish();
}

} // namespace corvanta::demo
