#pragma once

#include <QVariantAnimation>
#include <QWidget>

namespace corvanta {

// The hero's ring: the share of visible apps that are up to date, or while
// a refresh runs, how far the checks have come. Moves smoothly unless
// motion is reduced.
class HealthRing : public QWidget {
    Q_OBJECT

public:
    enum class Mode { health, progress };

    HealthRing(bool reduceMotion, QWidget* parent = nullptr);

    // `fraction` from 0 to 1; `label` is drawn in the middle.
    void setValue(Mode mode, double fraction, const QString& label);
    double fraction() const { return m_target; }
    const QString& label() const { return m_label; }
    Mode mode() const { return m_mode; }

    QSize sizeHint() const override { return { 88, 88 }; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_reduceMotion;
    Mode m_mode = Mode::health;
    double m_shown = 0;
    double m_target = 0;
    QString m_label;
    QVariantAnimation m_motion;
};

} // namespace corvanta
