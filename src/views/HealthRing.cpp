#include "views/HealthRing.h"

#include "views/Look.h"

#include <cmath>

#include <QPainter>

namespace corvanta {

HealthRing::HealthRing(bool reduceMotion, QWidget* parent)
    : QWidget(parent)
    , m_reduceMotion(reduceMotion)
{
    setFixedSize(sizeHint());
    m_motion.setDuration(600);
    m_motion.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_motion, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_shown = value.toDouble();
        update();
    });
}

void HealthRing::setValue(Mode mode, double fraction, const QString& label)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    const bool modeChanged = mode != m_mode;
    m_mode = mode;
    m_label = label;
    if (fraction != m_target || modeChanged) {
        m_target = fraction;
        m_motion.stop();
        if (m_reduceMotion || modeChanged || !isVisible()) {
            m_shown = fraction;
        } else {
            m_motion.setStartValue(m_shown);
            m_motion.setEndValue(fraction);
            m_motion.start();
        }
    }
    update();
}

void HealthRing::paintEvent(QPaintEvent*)
{
    const Colors& c = Look::colors();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal thickness = 8;
    const QRectF ring = QRectF(rect()).adjusted(
        thickness / 2 + 2, thickness / 2 + 2, -thickness / 2 - 2, -thickness / 2 - 2);
    painter.setPen(QPen(c.track, thickness, Qt::SolidLine, Qt::RoundCap));
    painter.drawEllipse(ring);

    const QColor tone = m_mode == Mode::progress ? c.accent : (m_target >= 1.0 ? c.green : c.accent);
    if (m_shown > 0) {
        painter.setPen(QPen(tone, thickness, Qt::SolidLine, Qt::RoundCap));
        // Qt's angles are sixteenths of a degree, counter-clockwise from three o'clock.
        painter.drawArc(ring, 90 * 16, -int(std::round(m_shown * 360 * 16)));
    }
    painter.setPen(c.text);
    painter.setFont(Look::font(15, QFont::DemiBold));
    painter.drawText(rect(), Qt::AlignCenter, m_label);
}

} // namespace corvanta
