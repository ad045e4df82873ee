#include "ui/LinkStatic.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace {
QString WithoutMnemonic(QString text)
{
    return text.remove(QLatin1Char('&'));
}
} // namespace

CLinkStatic::CLinkStatic(int id, const QString& text, QWidget* parent)
    : QAbstractButton(parent), m_id(id)
{
    setText(text);
    setAccessibleName(WithoutMnemonic(text));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { emit linkClicked(this, m_id); });
}

QSize CLinkStatic::sizeHint() const
{
    QSize size = fontMetrics().size(Qt::TextShowMnemonic, text());
    return size + QSize(2, 2);
}

void CLinkStatic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(isDown() ? PressedColor() : LinkColor());
    QFont underlined = font();
    underlined.setUnderline(true);
    painter.setFont(underlined);
    painter.drawText(rect().adjusted(1, 1, -1, -1),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, text());
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
