#include "views/Banner.h"

#include "views/Look.h"
#include "views/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace corvanta {

Banner::Banner(Tone tone, const QString& symbol, QWidget* parent)
    : QFrame(parent)
    , m_symbol(new SymbolView(18, this))
    , m_text(new QLabel(this))
    , m_action(new QPushButton(this))
    , m_close(new QPushButton(this))
{
    setObjectName(tone == Tone::warning ? u"warning"_s : u"banner"_s);
    m_symbol->setSymbol(symbol);
    m_symbol->setColor(
        [tone] { return tone == Tone::warning ? Look::colors().orange : Look::colors().accent; });
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_action->setVisible(false);
    m_action->setCursor(Qt::PointingHandCursor);
    m_close->setObjectName(u"close"_s);
    m_close->setAccessibleName(u"Dismiss"_s);
    m_close->setToolTip(u"Dismiss"_s);
    m_close->setFixedSize(26, 26);
    m_close->setIconSize(QSize(12, 12));
    m_close->setStyleSheet(u"QPushButton { background: transparent; padding: 0; border-radius: 13px; }"
                           u"QPushButton:hover { background: rgba(128, 128, 128, 40); }"_s);
    m_close->setCursor(Qt::PointingHandCursor);
    const auto paintClose
        = [this] { m_close->setIcon(Symbols::pixmap(u"xmark"_s, 12, Look::colors().secondary)); };
    paintClose();
    connect(&Look::notifier(), &Look::changed, this, paintClose);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 9, 9, 9);
    layout->setSpacing(10);
    layout->addWidget(m_symbol);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_action);
    layout->addWidget(m_close);

    connect(m_action, &QPushButton::clicked, this, &Banner::actionClicked);
    connect(m_close, &QPushButton::clicked, this, &Banner::closeClicked);
}

void Banner::setText(const QString& text)
{
    m_text->setText(text);
}

QString Banner::text() const
{
    return m_text->text();
}

void Banner::setAction(const QString& title)
{
    m_action->setText(title);
    m_action->setVisible(!title.isEmpty());
}

void Banner::setClosable(bool closable)
{
    m_close->setVisible(closable);
}

} // namespace corvanta
