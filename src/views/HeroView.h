#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace corvanta {

class HealthRing;
class StoreWatch;

// The top of the main window: the health ring, where the whole Mac stands
// in a headline and a summary, and the Check and Update All buttons.
class HeroView : public QFrame {
    Q_OBJECT

public:
    explicit HeroView(StoreWatch& watch, QWidget* parent = nullptr);

    QLabel* headline() const { return m_headline; }
    QLabel* summary() const { return m_summary; }
    QPushButton* checkButton() const { return m_check; }
    QPushButton* updateAllButton() const { return m_updateAll; }
    HealthRing* ring() const { return m_ring; }

private:
    void sync();

    StoreWatch& m_watch;
    HealthRing* m_ring;
    QLabel* m_headline;
    QLabel* m_summary;
    QPushButton* m_check;
    QPushButton* m_updateAll;
};

} // namespace corvanta
