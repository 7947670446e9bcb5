#include "views/RemovalPrompt.h"

#include "model/Store.h"
#include "views/AppIcon.h"
#include "views/Look.h"
#include "views/Symbols.h"
#include "views/text/ByteCount.h"

#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

QString RemovalPrompt::shortPath(const Leftover& leftover, const QString& library)
{
    const QString path = leftover.url.toLocalFile();
    const QString relative = QDir(library).relativeFilePath(path);
    return relative.startsWith(u"../"_s) ? path : relative;
}

RemovalPrompt::RemovalPrompt(Store& store, AppItem* item, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_item(item)
    , m_status(new QLabel(this))
    , m_list(new QWidget)
    , m_rows(new QVBoxLayout(m_list))
    , m_permanent(new QCheckBox(u"Delete permanently instead of moving to the Trash"_s, this))
    , m_confirm(new QPushButton(u"Move to Trash"_s, this))
    , m_cancel(new QPushButton(u"Cancel"_s, this))
{
    setObjectName(u"removal"_s);
    const InstalledApp app = item->app();
    setWindowTitle(u"Move %1 to the Trash"_s.arg(app.name));
    setMinimumWidth(620);

    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon::shared().of(app, 52, devicePixelRatioF()));
    icon->setFixedSize(52, 52);
    auto* title = new QLabel(u"Move “%1” to the Trash?"_s.arg(app.name), this);
    title->setObjectName(u"removalTitle"_s);
    title->setFont(Look::font(12.5, QFont::DemiBold));
    title->setWordWrap(true);
    auto* where = new QLabel(app.url.toLocalFile(), this);
    where->setProperty("role", u"secondary"_s);
    where->setFont(Look::font(9));
    where->setWordWrap(true);
    m_status->setObjectName(u"removalStatus"_s);
    m_status->setWordWrap(true);
    m_status->setText(u"Looking for what %1 keeps in your Library…"_s.arg(app.name));

    auto* heading = new QVBoxLayout;
    heading->setSpacing(3);
    heading->addWidget(title);
    heading->addWidget(where);
    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(heading, 1);

    m_list->setObjectName(u"leftovers"_s);
    m_rows->setContentsMargins(12, 10, 12, 10);
    m_rows->setSpacing(8);
    QFrame* frame = m_frame = new QFrame(this);
    frame->setObjectName(u"group"_s);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    QScrollArea* scroll = m_scroll = new QScrollArea(frame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(m_list);
    scroll->setMaximumHeight(260);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    frameLayout->addWidget(scroll);
    frame->setVisible(false);

    m_confirm->setObjectName(u"confirm"_s);
    m_confirm->setProperty("role", u"danger"_s);
    m_confirm->setDefault(true);
    m_cancel->setObjectName(u"cancel"_s);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 18);
    layout->setSpacing(14);
    layout->addLayout(top);
    layout->addWidget(m_status);
    layout->addWidget(frame);
    layout->addWidget(m_permanent);
    layout->addSpacing(4);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_confirm, &QPushButton::clicked, this, &RemovalPrompt::confirm);
    connect(m_permanent, &QCheckBox::toggled, this, &RemovalPrompt::syncButton);
    connect(this, &QDialog::rejected, this, [this] {
        if (m_store.removing() == m_item)
            m_store.setRemoving(nullptr);
    });
    syncButton();
    lookUp();
}

QCoro::Task<> RemovalPrompt::lookUp()
{
    QPointer<RemovalPrompt> self(this);
    const InstalledApp app = m_item->app();
    QCoro::Task<std::vector<Leftover>> finding = m_store.leftovers(app);
    std::vector<Leftover> found = co_await std::move(finding);
    if (self && self->m_loading)
        self->setLeftovers(std::move(found));
}

void RemovalPrompt::setLeftovers(std::vector<Leftover> found)
{
    m_loading = false;
    m_found = std::move(found);
    for (QCheckBox* box : std::as_const(m_boxes))
        box->parentWidget()->deleteLater();
    m_boxes.clear();
    const QString name = m_item ? m_item->app().name : QString();
    if (m_found.empty()) {
        m_status->setText(u"Nothing else of %1 was found in your Library."_s.arg(name));
        m_frame->setVisible(false);
        syncButton();
        return;
    }
    m_status->setText(u"%1 also keeps these in your Library. Ticked items go with it:"_s.arg(name));
    for (const Leftover& leftover : m_found) {
        auto* row = new QWidget(m_list);
        row->setObjectName(u"leftover"_s);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(8);
        auto* box = new QCheckBox(shortPath(leftover, m_store.userLibrary()), row);
        box->setChecked(!leftover.ambiguous);
        box->setToolTip(leftover.url.toLocalFile());
        line->addWidget(box, 1);
        if (leftover.ambiguous) {
            auto* mark = new QLabel(u"May belong to another app"_s, row);
            mark->setObjectName(u"ambiguous"_s);
            mark->setFont(Look::font(8.5, QFont::Medium));
            const QColor orange = Look::colors().orange;
            mark->setStyleSheet(u"color: %1; background: %2; border-radius: 7px; padding: 1px 7px;"_s.arg(
                orange.name(), Look::mix(Look::colors().card, orange, 0.14).name()));
            line->addWidget(mark);
        }
        auto* amount = new QLabel(leftover.size ? byteCount(*leftover.size) : u"—"_s, row);
        amount->setObjectName(u"size"_s);
        amount->setProperty("role", u"secondary"_s);
        amount->setMinimumWidth(64);
        amount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        line->addWidget(amount);
        m_rows->addWidget(row);
        m_boxes << box;
        connect(box, &QCheckBox::toggled, this, &RemovalPrompt::syncButton);
    }
    // Up to six rows show at once; more scroll.
    const int rowHeight = m_boxes.front()->sizeHint().height() + m_rows->spacing();
    m_scroll->setMinimumHeight(
        std::min(int(m_boxes.size()), 6) * rowHeight + m_rows->contentsMargins().top() * 2);
    m_frame->setVisible(true);
    syncButton();
}

std::vector<Leftover> RemovalPrompt::chosen() const
{
    std::vector<Leftover> result;
    for (qsizetype index = 0; index < m_boxes.size() && std::size_t(index) < m_found.size(); ++index) {
        if (m_boxes[index]->isChecked())
            result.push_back(m_found[std::size_t(index)]);
    }
    return result;
}

void RemovalPrompt::syncButton()
{
    m_confirm->setText(m_permanent->isChecked() ? u"Delete"_s : u"Move to Trash"_s);
    m_confirm->setEnabled(!m_loading && m_item);
}

void RemovalPrompt::confirm()
{
    if (!m_item || m_loading)
        return;
    const std::vector<Leftover> data = chosen();
    const bool permanently = m_permanent->isChecked();
    AppItem* item = m_item;
    Store& store = m_store;
    accept();
    store.uninstall(item, data, permanently); // runs by itself; reports through the notice or an alert
}

} // namespace corvanta
