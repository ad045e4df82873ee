#include "ui/LinkStatic.h"

#include "ui/Accessible.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>
#include <cmath>

namespace {

// What a screen reader sees: a link it can press, named by the text without "&".
class CLinkAccessible : public QAccessibleWidget
{
public:
    explicit CLinkAccessible(CLinkStatic* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.linked = true;
        state.pressed = static_cast<CLinkStatic*>(widget())->isDown();
        return state;
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && widget()->isEnabled())
            static_cast<CLinkStatic*>(widget())->click();
        else
            QAccessibleWidget::doAction(name);
    }
    QStringList keyBindingsForAction(const QString& name) const override
    {
        return name == pressAction() ? QStringList{QStringLiteral("Return")}
                                     : QAccessibleWidget::keyBindingsForAction(name);
    }
};

QAccessibleInterface* LinkAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CLinkStatic") && object && object->isWidgetType())
        return new CLinkAccessible(static_cast<CLinkStatic*>(object));
    return nullptr;
}

// Contrast of two colours as the web's accessibility guidelines measure it (1 to 21).
double Contrast(const QColor& a, const QColor& b)
{
    auto luminance = [](const QColor& color) {
        auto channel = [](double value) {
            return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
               0.0722 * channel(color.blueF());
    };
    double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

CLinkStatic::CLinkStatic(int id, const QString& text, QWidget* parent)
    : QAbstractButton(parent), m_id(id)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(LinkAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    setText(text);
    SetAccessibleLabel(this, text);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { emit linkClicked(this, m_id); });
}

void CLinkStatic::SetColor(const QColor& color)
{
    m_color = color;
    update();
}

QColor CLinkStatic::ShownColor() const
{
    QColor color = isDown() ? PressedColor() : m_color;
    const QColor face = palette().color(backgroundRole());
    if (face.lightness() >= 128)
        return color;
    // A dark face: the same hue, lighter and a little softer, until it reads as well as
    // ordinary text should.
    for (int step = 0; step < 16 && Contrast(color, face) < 4.5; ++step) {
        float hue, saturation, lightness, alpha;
        color.getHslF(&hue, &saturation, &lightness, &alpha);
        color.setHslF(hue, saturation * 0.9F, std::min(1.0F, lightness + 0.05F), alpha);
    }
    return color;
}

QSize CLinkStatic::sizeHint() const
{
    QSize size = fontMetrics().size(Qt::TextShowMnemonic, text());
    return size + QSize(2, 2);
}

void CLinkStatic::keyPressEvent(QKeyEvent* event)
{
    // A link opens on Enter as in a browser; Space is the button's own key.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void CLinkStatic::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(ShownColor());
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
