#include "app/DemoReport.h"

#include "app/StoreCommand.h"
#include "model/AppItem.h"
#include "model/Store.h"
#include "model/UpdateControl.h"
#include "views/text/ByteCount.h"
#include "views/text/Hero.h"
#include "views/text/StatusCard.h"

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

constexpr qsizetype gap = 2;
const QString indent = u"  "_s;

QString installedLabel(const InstalledApp& app)
{
    return app.version.value_or(app.build.value_or(u"unknown"_s));
}

// The row's control and its help, for an update Corvanta leaves to someone else.
std::optional<QString> elsewhere(const AppItem& item)
{
    if (item.status().kind != Status::Kind::update)
        return std::nullopt;
    const UpdateControl control = UpdateControl::of(item);
    if (control.kind == UpdateControl::Kind::none || control.action == UpdateControl::Action::update)
        return std::nullopt;
    QString text = u"\u21b3 "_s + control.label;
    if (control.help)
        text += u": "_s + *control.help;
    if (control.url)
        text += u" <"_s + control.url->toString() + u'>';
    return text;
}

// Left-justified columns; the last one runs on and trailing spaces go.
QString row(const QStringList& cells, const QList<qsizetype>& widths)
{
    QString text = indent;
    for (qsizetype column = 0; column < cells.size(); ++column) {
        const bool last = column + 1 == cells.size();
        text += last ? cells[column] : cells[column].leftJustified(widths[column] + gap);
    }
    while (text.endsWith(u' '))
        text.chop(1);
    return text;
}

} // namespace

DemoReport::~DemoReport()
{
    for (const QMetaObject::Connection& connection : std::as_const(m_connections))
        QObject::disconnect(connection);
}

void DemoReport::section(const QString& title)
{
    m_out << "\n== " << title << '\n';
    m_out.flush();
}

void DemoReport::line(const QString& text)
{
    m_out << text << '\n';
    m_out.flush();
}

void DemoReport::table(const Store& store)
{
    QList<QStringList> rows { { u"App"_s, u"Version"_s, u"Status"_s, QString() } };
    QList<std::optional<QString>> notes { std::nullopt };
    for (const AppItem* item : store.items()) {
        const StatusCard card = StatusCard::of(*item);
        rows.append({ item->app().name, installedLabel(item->app()), card.title, card.message });
        notes.append(elsewhere(*item));
    }
    QList<qsizetype> widths(3, 0);
    for (const QStringList& cells : std::as_const(rows)) {
        for (qsizetype column = 0; column < widths.size(); ++column)
            widths[column] = std::max(widths[column], cells[column].size());
    }
    const qsizetype noteColumn = indent.size() + widths[0] + widths[1] + widths[2] + 3 * gap;
    for (qsizetype at = 0; at < rows.size(); ++at) {
        m_out << row(rows[at], widths) << '\n';
        if (notes[at])
            m_out << QString(noteColumn, u' ') << *notes[at] << '\n';
    }
    m_out << '\n' << indent << Hero::headline(store) << '\n' << indent << Hero::summary(store) << '\n';
    m_out.flush();
}

void DemoReport::follow(const QList<AppItem*>& items)
{
    for (AppItem* item : items) {
        m_nameWidth = std::max(m_nameWidth, item->app().name.size());
        const QString release = item->release() ? item->release()->label() : u"the update"_s;
        const std::array<QString, 4> titles { u"Downloading "_s + release, u"Updated to "_s + release,
            u"Permission needed"_s, u"Update failed"_s };
        for (const QString& title : titles)
            m_titleWidth = std::max(m_titleWidth, title.size());
        m_shown.insert(item->id(), item->phase().kind);
        m_connections << QObject::connect(
            item, &AppItem::changed, item, [this, item] { phaseChanged(item); });
    }
}

void DemoReport::phaseChanged(AppItem* item)
{
    using Kind = InstallPhase::Kind;
    const InstallPhase& phase = item->phase();
    const auto shown = m_shown.find(item->id());
    if (shown != m_shown.end() && *shown == phase.kind)
        return;
    m_shown.insert(item->id(), phase.kind);

    const StatusCard card = StatusCard::of(*item);
    QString title = card.title;
    QString message;
    QStringList log;
    switch (phase.kind) {
    case Kind::idle:
        return;
    case Kind::queued:
        break;
    case Kind::downloading:
        // A download's first moment says 0%; what is fetched says more.
        if (item->release() && item->release()->download) {
            const Download& download = *item->release()->download;
            message = download.url.fileName();
            if (download.size)
                message += u", "_s + byteCount(*download.size);
        }
        break;
    case Kind::verifying:
    case Kind::installing:
        message = card.message;
        break;
    case Kind::done:
        // The card's sentence is the status's until the model re-decides it; the log says what happened.
        log = item->installLog();
        ++m_installed;
        break;
    case Kind::failed:
    case Kind::blocked:
        message = card.message;
        ++m_refused;
        break;
    }
    m_out << row({ item->app().name, title, message }, { m_nameWidth, m_titleWidth }) << '\n';
    const QString logIndent(indent.size() + m_nameWidth + gap, u' ');
    for (const QString& entry : std::as_const(log))
        m_out << logIndent << u"\u00b7 "_s << entry << '\n';
    m_out.flush();
}

} // namespace corvanta
