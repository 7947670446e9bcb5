#include "views/AppIcon.h"

#include "codesign/PropertyList.h"
#include "discovery/InstalledApp.h"
#include "views/Look.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QThreadPool>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

// Icons are a few hundred kilobytes; anything far past that is not one.
constexpr qint64 maxIconFile = 16 * 1024 * 1024;
// What icons are kept at; views draw them at most this large.
constexpr int keptSize = 256;

QString iconFile(const QString& bundlePath)
{
    const QDir contents(bundlePath + u"/Contents"_s);
    QString name = u"AppIcon"_s;
    if (const std::optional<PropertyList> info = PropertyList::load(contents.filePath(u"Info.plist"_s))) {
        if (const std::optional<QString> named = info->text(u"CFBundleIconFile"_s))
            name = *named;
    }
    // A bare name, never a path out of the bundle's resources.
    name = QFileInfo(name).fileName();
    if (!name.endsWith(u".icns"_s, Qt::CaseInsensitive))
        name += u".icns"_s;
    return contents.filePath(u"Resources/"_s + name);
}

// The macOS icon grid's rounded square: 80% of the tile, corners of 22.5%.
QPainterPath tile(qreal size)
{
    const qreal inset = size * 0.1;
    const QRectF square(inset, inset, size - 2 * inset, size - 2 * inset);
    QPainterPath path;
    path.addRoundedRect(square, square.width() * 0.225, square.width() * 0.225);
    return path;
}

} // namespace

std::optional<QImage> AppIcon::read(const QString& bundlePath)
{
    const QFileInfo file(iconFile(bundlePath));
    if (!file.isFile() || file.size() == 0 || file.size() > maxIconFile)
        return std::nullopt;
    QImageReader reader(file.filePath(), "icns");
    // An .icns holds several sizes; the reader's images are the entries, take the largest.
    QImage best;
    for (int index = 0; index < std::max(1, reader.imageCount()); ++index) {
        if (index > 0 && !reader.jumpToImage(index))
            break;
        const QImage image = reader.read();
        if (!image.isNull() && image.width() > best.width())
            best = image;
    }
    if (best.isNull())
        return std::nullopt;
    return best;
}

QPixmap AppIcon::placeholder(const QString& name, const QString& bundleID, int size, qreal ratio)
{
    static QHash<QString, QPixmap> made;
    const QString key = name + u'|' + bundleID + u'|' + QString::number(size) + u'|' + QString::number(ratio);
    if (const auto found = made.constFind(key); found != made.constEnd())
        return *found;
    // A hue of the app's own, stable across runs.
    const QByteArray digest = QCryptographicHash::hash(bundleID.toUtf8(), QCryptographicHash::Sha256);
    const int hue = (quint8(digest[0]) * 256 + quint8(digest[1])) % 360;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = tile(size);
    QLinearGradient fill(0, 0, 0, size);
    fill.setColorAt(0, QColor::fromHsl(hue, 150, 150));
    fill.setColorAt(1, QColor::fromHsl((hue + 18) % 360, 140, 105));
    painter.fillPath(shape, fill);
    painter.setPen(QPen(QColor(255, 255, 255, 50), std::max(1.0, size / 48.0)));
    painter.drawPath(shape);
    const QString initial = name.trimmed().isEmpty() ? u"?"_s : name.trimmed().left(1).toUpper();
    painter.setPen(Qt::white);
    painter.setFont(Look::font(size * 0.30, QFont::DemiBold));
    painter.drawText(QRectF(0, 0, size, size * 0.98), Qt::AlignCenter, initial);
    painter.end();
    made.insert(key, pixmap);
    return pixmap;
}

AppIcon& AppIcon::shared()
{
    static AppIcon* loader = new AppIcon;
    return *loader;
}

QPixmap AppIcon::of(const InstalledApp& app, int size, qreal ratio)
{
    const QString path = app.url.toLocalFile();
    const auto image = m_images.constFind(path);
    if (image == m_images.constEnd()) {
        if (!m_reading.contains(path)) {
            m_reading.insert(path);
            ++m_pending;
            QPointer<AppIcon> self(this);
            const auto reading = [self, path] {
                const std::optional<QImage> read = AppIcon::read(path);
                const QImage kept = read ? read->scaledToWidth(keptSize, Qt::SmoothTransformation) : QImage();
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [self, path, kept] {
                        if (!self)
                            return;
                        self->m_reading.remove(path);
                        self->m_images.insert(path, kept);
                        --self->m_pending;
                        Q_EMIT self->loaded(path);
                    },
                    Qt::QueuedConnection);
            };
            QThreadPool::globalInstance()->start(reading);
        }
        return placeholder(app.name, app.bundleID, size, ratio);
    }
    if (image->isNull())
        return placeholder(app.name, app.bundleID, size, ratio);
    const QString key = path + u'|' + QString::number(size) + u'|' + QString::number(ratio);
    if (const auto found = m_pixmaps.constFind(key); found != m_pixmaps.constEnd())
        return *found;
    QPixmap pixmap = QPixmap::fromImage(image->scaledToWidth(int(size * ratio), Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    m_pixmaps.insert(key, pixmap);
    return pixmap;
}

void AppIcon::forget(const QString& bundlePath)
{
    m_images.remove(bundlePath);
    const QString prefix = bundlePath + u'|';
    for (auto it = m_pixmaps.begin(); it != m_pixmaps.end();) {
        if (it.key().startsWith(prefix))
            it = m_pixmaps.erase(it);
        else
            ++it;
    }
}

} // namespace corvanta
