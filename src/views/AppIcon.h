#pragma once

#include <optional>

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>

namespace corvanta {

struct InstalledApp;

// Apps' icons as their bundles draw them: the .icns the Info.plist names
// (CFBundleIconFile, else AppIcon.icns), else a placeholder tile in a colour
// of the app's own with its initial. Bundles are read off the main thread,
// once each; until an icon arrives the placeholder stands in.
class AppIcon : public QObject {
    Q_OBJECT

public:
    // The one loader of the process, living on the main thread.
    static AppIcon& shared();

    // The icon at `size` logical pixels for a display of `ratio`; starts
    // reading the bundle when it hasn't been read yet.
    QPixmap of(const InstalledApp& app, int size, qreal ratio = 2);
    // Whether reads are still under way.
    bool loading() const { return m_pending > 0; }
    // Forgets what was read, so an updated bundle shows its new icon.
    void forget(const QString& bundlePath);

    // The bundle's own icon image, its largest entry; none when it has none
    // that Qt can read. Blocking.
    static std::optional<QImage> read(const QString& bundlePath);
    // The placeholder for an app without a readable icon.
    static QPixmap placeholder(const QString& name, const QString& bundleID, int size, qreal ratio = 2);

Q_SIGNALS:
    // The bundle at `bundlePath` was read; views showing it redraw.
    void loaded(const QString& bundlePath);

private:
    AppIcon() = default;

    // Per bundle: the image, or a null image when the bundle has none.
    QHash<QString, QImage> m_images;
    QSet<QString> m_reading;
    QHash<QString, QPixmap> m_pixmaps;
    int m_pending = 0;
};

} // namespace corvanta
