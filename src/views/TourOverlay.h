#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace corvanta {

class MainWindow;
class Store;

// "Take the Tour": coach marks over the main window — the hero, the filter
// chips, an app card and its Update button, and the menu-bar icon. Right or
// Return goes on, Left goes back, Escape ends it; the last step or "Skip
// Tour" ends it and counts it as taken.
class TourOverlay : public QWidget {
    Q_OBJECT

public:
    TourOverlay(MainWindow& window, Store& store);
    ~TourOverlay() override;

    struct Mark {
        QString title;
        QString text;
        QPointer<QWidget> target; // none: the menu-bar icon, outside the window
    };

    const QList<Mark>& marks() const { return m_marks; }
    int step() const { return m_step; }
    QLabel* titleLabel() const { return m_title; }
    QPushButton* nextButton() const { return m_next; }
    QPushButton* skipButton() const { return m_skip; }

    void go(int step);
    void end();

Q_SIGNALS:
    void ended();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRect hole() const;
    void place();

    MainWindow& m_window;
    Store& m_store;
    QList<Mark> m_marks;
    int m_step = 0;
    QWidget* m_bubble;
    QLabel* m_count;
    QLabel* m_title;
    QLabel* m_text;
    QPushButton* m_back;
    QPushButton* m_next;
    QPushButton* m_skip;
};

} // namespace corvanta
