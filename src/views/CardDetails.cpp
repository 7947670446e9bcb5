#include "views/CardDetails.h"

#include "model/AppItem.h"
#include "views/Look.h"
#include "views/StatusCardView.h"
#include "views/Symbols.h"
#include "views/text/StatusCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace corvanta {

namespace {

constexpr int notesLimit = 220;

QLabel* heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text.toUpper(), parent);
    label->setFont(Look::font(8.5, QFont::DemiBold));
    label->setProperty("role", u"secondary"_s);
    return label;
}

void clear(QLayout* layout)
{
    while (QLayoutItem* child = layout->takeAt(0)) {
        if (QWidget* widget = child->widget()) {
            // Possibly the sender of the click being handled: gone on the next turn.
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        if (QLayout* inner = child->layout())
            clear(inner);
        delete child;
    }
}

QWidget* attemptRow(const Attempt& attempt, QWidget* parent)
{
    auto* row = new QWidget(parent);
    row->setObjectName(u"attempt"_s);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 1, 0, 1);
    layout->setSpacing(8);

    QString symbol;
    QString text;
    std::function<QColor()> tint;
    if (std::holds_alternative<Attempt::Pass>(attempt.outcome)) {
        symbol = u"checkmark.circle.fill"_s;
        text = attempt.found ? u"Found "_s + *attempt.found : u"Found a release"_s;
        tint = [] { return Look::colors().green; };
    } else if (std::holds_alternative<Attempt::Fail>(attempt.outcome)) {
        symbol = u"xmark"_s;
        text = attempt.outcomeText().value_or(QString());
        tint = [] { return Look::colors().secondary; };
    } else {
        symbol = u"ellipsis"_s;
        text = attempt.outcomeText().value_or(QString());
        tint = [] { return Look::colors().tertiary; };
    }
    auto* mark = new SymbolView(14, row);
    mark->setSymbol(symbol);
    mark->setColor(tint);
    auto* source = new QLabel(label(attempt.kind), row);
    source->setFont(Look::font(9.5, QFont::Medium));
    source->setFixedWidth(118);
    auto* said = new QLabel(text, row);
    said->setObjectName(u"attemptText"_s);
    said->setWordWrap(true);
    said->setFont(Look::font(9.5));
    said->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (attempt.url) {
        said->setToolTip(*attempt.url);
        said->setAccessibleDescription(*attempt.url);
    }
    layout->addWidget(mark, 0, Qt::AlignTop);
    layout->addWidget(source, 0, Qt::AlignTop);
    layout->addWidget(said, 1);
    if (attempt.url) {
        auto* where = new QLabel(row);
        where->setObjectName(u"attemptURL"_s);
        where->setProperty("role", u"secondary"_s);
        where->setFont(Look::font(8.5));
        where->setMaximumWidth(260);
        where->setText(QFontMetrics(where->font()).elidedText(*attempt.url, Qt::ElideMiddle, 260));
        where->setToolTip(*attempt.url);
        where->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(where, 0, Qt::AlignTop);
    }
    return row;
}

} // namespace

NotesView::NotesView(QWidget* parent)
    : QTextBrowser(parent)
{
    setObjectName(u"notes"_s);
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    document()->setDocumentMargin(0);
}

QVariant NotesView::loadResource(int, const QUrl&)
{
    return {}; // no images, style sheets or files on the notes' behalf
}

void NotesView::setNotes(const QString& notes, bool markdown)
{
    if (markdown)
        setMarkdown(notes);
    else if (Qt::mightBeRichText(notes))
        setHtml(notes);
    else
        setPlainText(notes);
    fit();
}

void NotesView::resizeEvent(QResizeEvent* event)
{
    QTextBrowser::resizeEvent(event);
    fit();
}

void NotesView::fit()
{
    document()->setTextWidth(viewport()->width());
    const int wanted = int(std::ceil(document()->size().height())) + 4;
    const int height = std::min(wanted, notesLimit);
    if (height != this->height())
        setFixedHeight(height);
    setVerticalScrollBarPolicy(wanted > notesLimit ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

CardDetails::CardDetails(QWidget* parent)
    : QWidget(parent)
    , m_status(new StatusCardView(this))
    , m_attemptsHeading(heading(u"Sources"_s, this))
    , m_attempts(new QWidget(this))
    , m_attemptRows(new QVBoxLayout(m_attempts))
    , m_notesHeading(heading(u"Release notes"_s, this))
    , m_notes(new NotesView(this))
    , m_notesLink(new QPushButton(u"Open release notes"_s, this))
    , m_logHeading(heading(u"Install log"_s, this))
    , m_log(new QLabel(this))
    , m_actions(new QWidget(this))
{
    setObjectName(u"details"_s);
    m_attemptRows->setContentsMargins(0, 0, 0, 0);
    m_attemptRows->setSpacing(5);
    m_notesLink->setProperty("role", u"link"_s);
    m_notesLink->setCursor(Qt::PointingHandCursor);
    m_log->setObjectName(u"installLog"_s);
    m_log->setWordWrap(true);
    m_log->setFont(Look::font(9.5));
    m_log->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* separator = new QFrame(this);
    separator->setObjectName(u"separator"_s);

    auto* notesRow = new QHBoxLayout;
    notesRow->addWidget(m_notesHeading);
    notesRow->addStretch();
    notesRow->addWidget(m_notesLink);

    auto* actions = new QHBoxLayout(m_actions);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(6);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(separator);
    layout->addSpacing(4);
    layout->addWidget(m_status);
    layout->addSpacing(6);
    layout->addWidget(m_attemptsHeading);
    layout->addWidget(m_attempts);
    layout->addSpacing(4);
    layout->addLayout(notesRow);
    layout->addWidget(m_notes);
    layout->addSpacing(4);
    layout->addWidget(m_logHeading);
    layout->addWidget(m_log);
    layout->addSpacing(4);
    layout->addWidget(m_actions);

    connect(m_notesLink, &QPushButton::clicked, this, [this] { Q_EMIT openLink(m_notesURL); });
    connect(m_notes, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.scheme() == u"https" || url.scheme() == u"http")
            Q_EMIT openLink(url);
    });
}

QList<QPushButton*> CardDetails::actionButtons() const
{
    return m_actions->findChildren<QPushButton*>();
}

void CardDetails::display(const AppItem& item, const QList<MenuEntry>& entries)
{
    m_status->display(StatusCard::of(item));

    // Rows are rebuilt only when the check changed, not on every step of a download.
    QList<QUuid> attemptIds;
    for (const Attempt& attempt : item.attempts())
        attemptIds << attempt.id;
    if (attemptIds != m_attemptIds) {
        m_attemptIds = attemptIds;
        clear(m_attemptRows);
        for (const Attempt& attempt : item.attempts())
            m_attemptRows->addWidget(attemptRow(attempt, m_attempts));
    }
    const bool anyAttempt = !item.attempts().empty();
    m_attemptsHeading->setVisible(anyAttempt);
    m_attempts->setVisible(anyAttempt);

    const std::optional<Release>& release = item.release();
    const bool notes = release && release->notes && !release->notes->trimmed().isEmpty();
    const bool link = release && release->notesURL
        && (release->notesURL->scheme() == u"https" || release->notesURL->scheme() == u"http");
    m_notesHeading->setText(
        (release ? u"What's new in "_s + release->label() : u"Release notes"_s).toUpper());
    m_notesHeading->setVisible(notes || link);
    m_notes->setVisible(notes);
    if (notes && *release->notes != m_notesText) {
        m_notesText = *release->notes;
        m_notes->setNotes(m_notesText, release->kind == SourceKind::github);
    }
    m_notesLink->setVisible(link);
    m_notesURL = link ? *release->notesURL : QUrl();

    const bool log = !item.installLog().isEmpty();
    m_logHeading->setVisible(log);
    m_log->setVisible(log);
    m_log->setText(item.installLog().join(u'\n'));

    if (entries == m_entries)
        return;
    m_entries = entries;
    QLayout* actions = m_actions->layout();
    clear(actions);
    for (const MenuEntry& entry : entries) {
        using Command = MenuEntry::Command;
        if (entry.command != Command::checkAgain && entry.command != Command::showInFinder
            && entry.command != Command::moveToTrash && entry.command != Command::unignore)
            continue;
        auto* button = new QPushButton(entry.title, m_actions);
        button->setCursor(Qt::PointingHandCursor);
        const Command command = entry.command;
        connect(button, &QPushButton::clicked, this, [this, command] { Q_EMIT this->command(command); });
        actions->addWidget(button);
    }
    static_cast<QHBoxLayout*>(actions)->addStretch();
}

} // namespace corvanta
