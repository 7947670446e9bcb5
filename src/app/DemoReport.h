#pragma once

#include "install/InstallPhase.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTextStream>

namespace corvanta {

class AppItem;
class Store;

// What the headless demo prints: the list as a table of statuses with the
// status card's words, and "Update All" as one line per app per phase.
// Columns are two spaces apart or more; no field holds two spaces in a row.
class DemoReport {
public:
    explicit DemoReport(QTextStream& out)
        : m_out(out)
    {
    }
    ~DemoReport();
    DemoReport(const DemoReport&) = delete;
    DemoReport& operator=(const DemoReport&) = delete;

    void section(const QString& title);
    void line(const QString& text);

    // Every app with its installed version, its card's title and sentence,
    // and for an update Corvanta doesn't install, the row's control and why;
    // then the hero's headline and summary.
    void table(const Store& store);

    // Prints the phases of `items` as they change, from now on; the column
    // widths are those of these apps and their releases.
    void follow(const QList<AppItem*>& items);
    int installed() const { return m_installed; }
    int refused() const { return m_refused; }

private:
    void phaseChanged(AppItem* item);

    QTextStream& m_out;
    QList<QMetaObject::Connection> m_connections;
    QHash<QString, InstallPhase::Kind> m_shown; // the phase last printed, by item id
    qsizetype m_nameWidth = 0;
    qsizetype m_titleWidth = 0;
    int m_installed = 0;
    int m_refused = 0;
};

} // namespace corvanta
