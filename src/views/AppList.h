#pragma once

#include <QHash>
#include <QScrollArea>

class QLabel;
class QVBoxLayout;

namespace corvanta {

class AppCard;
class StoreWatch;

// The cards of the shown items, in list order, keyed by the item's path so
// that a card keeps its state across refreshes. Up and Down move the
// selection, Return opens the details.
class AppList : public QScrollArea {
    Q_OBJECT

public:
    explicit AppList(StoreWatch& watch, QWidget* parent = nullptr);

    // The visible cards, top to bottom.
    QList<AppCard*> cards() const;
    AppCard* card(const QString& id) const { return m_cards.value(id); }
    QLabel* emptyState() const { return m_empty; }

    // Selects the first card and gives it the focus.
    void focusFirst();

private:
    void sync();
    void toggle(const QString& id);
    void select(const QString& id);
    void step(const QString& id, int by);
    void reveal(AppCard* card);
    QString emptyText() const;

    StoreWatch& m_watch;
    QWidget* m_content;
    QVBoxLayout* m_layout;
    QLabel* m_empty;
    QHash<QString, AppCard*> m_cards;
    QList<AppCard*> m_order;
};

} // namespace corvanta
