#pragma once

#include "model/Filter.h"

#include <QAbstractButton>
#include <QMap>
#include <QWidget>

namespace corvanta {

class StoreWatch;

// One filter as a pill: its symbol, title and count.
class Chip : public QAbstractButton {
    Q_OBJECT

public:
    Chip(Filter filter, QWidget* parent = nullptr);

    Filter filter() const { return m_filter; }
    int count() const { return m_count; }
    void setCount(int count);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Filter m_filter;
    int m_count = 0;
    bool m_hover = false;
};

// The row of filter chips; the checked one is the store's filter.
class FilterChips : public QWidget {
    Q_OBJECT

public:
    explicit FilterChips(StoreWatch& watch, QWidget* parent = nullptr);

    Chip* chip(Filter filter) const { return m_chips.value(filter); }

private:
    void sync();

    StoreWatch& m_watch;
    QMap<Filter, Chip*> m_chips;
};

} // namespace corvanta
