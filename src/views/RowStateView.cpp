#include "views/RowStateView.h"

#include "views/Look.h"
#include "views/Symbols.h"

#include <cmath>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

using namespace Qt::StringLiterals;

namespace corvanta {

QColor symbolTint(const QString& symbol)
{
    const Colors& c = Look::colors();
    if (symbol == u"checkmark" || symbol == u"checkmark.circle.fill" || symbol == u"checkmark.seal.fill")
        return c.green;
    if (symbol == u"xmark.octagon.fill")
        return c.red;
    if (symbol == u"exclamationmark.triangle.fill" || symbol == u"lock.shield.fill")
        return c.orange;
    if (symbol.startsWith(u"arrow.down"))
        return c.accent;
    return c.secondary;
}

ProgressBar::ProgressBar(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(84, 6);
}

void ProgressBar::setFraction(double fraction)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == m_fraction)
        return;
    m_fraction = fraction;
    update();
}

void ProgressBar::paintEvent(QPaintEvent*)
{
    const Colors& c = Look::colors();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF track(rect());
    const qreal radius = track.height() / 2;
    painter.setBrush(c.track);
    painter.drawRoundedRect(track, radius, radius);
    if (m_fraction > 0) {
        painter.setBrush(c.accent);
        painter.drawRoundedRect(QRectF(track.left(), track.top(),
                                    std::max(track.height(), track.width() * m_fraction), track.height()),
            radius, radius);
    }
}

RowStateView::RowStateView(QWidget* parent)
    : QWidget(parent)
    , m_symbol(new SymbolView(15, this))
    , m_words(new QLabel(this))
    , m_progress(new ProgressBar(this))
    , m_button(new QPushButton(this))
    , m_tag(new QLabel(this))
    , m_tagSymbol(new SymbolView(14, this))
    , m_tagBox(new QWidget(this))
    , m_blocked(new QPushButton(this))
{
    m_words->setObjectName(u"rowWords"_s);
    m_words->setFont(Look::font(9.5, QFont::Medium));
    m_button->setObjectName(u"control"_s);
    m_button->setCursor(Qt::PointingHandCursor);
    m_button->setMinimumWidth(76);
    m_tag->setObjectName(u"tag"_s);
    m_tag->setFont(Look::font(9.5, QFont::Medium));
    m_blocked->setObjectName(u"blocked"_s);
    m_blocked->setProperty("role", u"link"_s);
    m_blocked->setCursor(Qt::PointingHandCursor);

    auto* tagLayout = new QHBoxLayout(m_tagBox);
    tagLayout->setContentsMargins(0, 0, 0, 0);
    tagLayout->setSpacing(5);
    m_tagSymbol->setParent(m_tagBox);
    m_tag->setParent(m_tagBox);
    tagLayout->addWidget(m_tagSymbol);
    tagLayout->addWidget(m_tag);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_symbol);
    layout->addWidget(m_words);
    layout->addWidget(m_progress);
    layout->addWidget(m_blocked);
    layout->addWidget(m_tagBox);
    layout->addWidget(m_button);

    connect(m_button, &QPushButton::clicked, this, [this] { Q_EMIT controlClicked(m_action); });
    connect(m_blocked, &QPushButton::clicked, this, &RowStateView::blockedClicked);
}

QString RowStateView::words() const
{
    if (!m_button->isHidden())
        return m_button->text();
    if (!m_tagBox->isHidden())
        return m_tag->text();
    if (!m_blocked->isHidden())
        return m_blocked->text();
    return m_words->text();
}

void RowStateView::display(const RowState& state, const UpdateControl& control)
{
    const bool blocked = state.symbol == u"lock.shield.fill"_s;
    const bool useControl = state.showsControl;
    const bool button = useControl && control.kind == UpdateControl::Kind::button;
    const bool tag = useControl && control.kind == UpdateControl::Kind::tag;

    m_symbol->setVisible(!useControl && state.symbol.has_value());
    if (state.symbol) {
        m_symbol->setSymbol(*state.symbol);
        const QString name = *state.symbol;
        m_symbol->setColor([name] { return symbolTint(name); });
    }
    m_words->setVisible(!useControl && !blocked);
    if (state.fraction) {
        m_words->setText(u"%1%"_s.arg(int(std::round(*state.fraction * 100))));
        m_progress->setFraction(*state.fraction);
    } else {
        m_words->setText(useControl ? QString() : state.words);
    }
    m_progress->setVisible(state.fraction.has_value());
    m_words->setToolTip(state.help.value_or(QString()));
    m_symbol->setToolTip(state.help.value_or(QString()));
    const bool quiet = state.symbol == u"clock"_s || state.symbol == u"eye.slash"_s || !state.symbol;
    const QColor ink = quiet ? Look::colors().secondary : Look::colors().text;
    m_words->setStyleSheet(u"color: %1;"_s.arg(ink.name()));

    m_blocked->setVisible(blocked);
    m_blocked->setText(state.words);
    m_blocked->setToolTip(state.help.value_or(QString()));

    m_button->setVisible(button);
    m_tagBox->setVisible(tag);
    m_action = control.action;
    if (button) {
        m_button->setText(control.label);
        m_button->setToolTip(control.help.value_or(QString()));
        m_button->setProperty(
            "role", control.action == UpdateControl::Action::update ? u"primary"_s : QString());
        m_button->style()->unpolish(m_button);
        m_button->style()->polish(m_button);
    }
    if (tag) {
        m_tag->setText(control.label);
        m_tagBox->setToolTip(control.help.value_or(QString()));
        const bool secondary = control.secondaryTint;
        m_tagSymbol->setSymbol(control.symbol.value_or(QString()));
        m_tagSymbol->setColor(
            [secondary] { return secondary ? Look::colors().secondary : Look::colors().accent; });
        const QColor tagInk = secondary ? Look::colors().secondary : Look::colors().accent;
        m_tag->setStyleSheet(u"color: %1;"_s.arg(tagInk.name()));
    }
}

} // namespace corvanta
