#include "ui/AboutDlg.h"

#include "platform/QtText.h"
#include "view/RtfTextDocument.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {

constexpr char kPlaceholder[] = "[release]";

// The banner at the top: the product's mark and name on a band of its colour.
QPixmap Banner(int width, int height, const QFont& font)
{
    QPixmap pixmap(width, height);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, width, 0);
    band.setColorAt(0, QColor(0x1f, 0x5f, 0xbf));
    band.setColorAt(1, QColor(0x5a, 0x9b, 0xe8));
    painter.fillRect(pixmap.rect(), band);
    QPixmap icon = QApplication::windowIcon().pixmap(height - 16, height - 16);
    painter.drawPixmap(12, 8, icon);
    QFont title = font;
    title.setPixelSize(height * 2 / 5);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(height + 8, 0, width - height - 8, height),
                     Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Zib Tam 2.5"));
    return pixmap;
}

} // namespace

std::string AboutText(const std::string& rtf, const std::string& buildDate)
{
    std::string text = rtf;
    const std::string placeholder = kPlaceholder;
    for (size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + buildDate.size()))
        text.replace(at, placeholder.size(), buildDate);
    return text;
}

std::string AboutResource()
{
    QFile file(QStringLiteral(":/zibtam/about.rtf"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

CAboutDlg::CAboutDlg(const std::string& rtf, const std::string& buildDate, QWidget* parent)
    : QDialog(parent), m_text(new QTextBrowser(this))
{
    setWindowTitle(QStringLiteral("About Zib Tam 2.5"));
    setObjectName(QStringLiteral("aboutDlg"));

    auto* picture = new QLabel(this);
    picture->setFrameShape(QFrame::Box);
    picture->setFrameShadow(QFrame::Sunken);
    picture->setPixmap(Banner(400, 64, font()));
    picture->setAccessibleName(QStringLiteral("Zib Tam 2.5"));

    m_text->setObjectName(QStringLiteral("aboutText"));
    m_text->setAccessibleName(QStringLiteral("About Zib Tam"));
    m_text->setOpenLinks(false);
    // Read-only with neither caret nor selection: the keys below scroll it.
    m_text->setTextInteractionFlags(Qt::NoTextInteraction);
    m_text->setFocusPolicy(Qt::StrongFocus);
    m_text->viewport()->setCursor(Qt::ArrowCursor);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QTextCursor cursor(m_text->document());
    RtfInsertOptions whole;
    whole.AbsorbFinalParagraph = true;
    InsertRtf(cursor, AboutText(rtf, buildDate), whole);
    m_text->moveCursor(QTextCursor::Start);
    m_text->setMinimumSize(400, 220);
    // The key table lines up: one tab stop past the longest key.
    m_text->setTabStopDistance(
        m_text->fontMetrics().horizontalAdvance(QStringLiteral("Shift+Super+G")) + 24);
    m_text->installEventFilter(this);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QStringLiteral("&Close"), QDialogButtonBox::RejectRole);
    close->setAccessibleName(QStringLiteral("Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    layout->addWidget(m_text, 1);
    layout->addWidget(buttons);
    m_text->setFocus();
}

bool CAboutDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_text || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    QScrollBar* bar = m_text->verticalScrollBar();
    auto scroll = [bar](QAbstractSlider::SliderAction action) {
        bar->triggerAction(action);
        return true;
    };
    switch (key->key()) {
    case Qt::Key_Down:
        if (!ctrl && !shift)
            return scroll(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_Up:
        if (!ctrl && !shift)
            return scroll(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_PageUp:
        if (!ctrl && !shift)
            return scroll(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        if (!ctrl && !shift)
            return scroll(QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_Home:
        if (ctrl)
            return scroll(QAbstractSlider::SliderToMinimum);
        break;
    case Qt::Key_End:
        if (ctrl)
            return scroll(QAbstractSlider::SliderToMaximum);
        break;
    case Qt::Key_Space:
        if (!ctrl)
            return scroll(shift ? QAbstractSlider::SliderPageStepSub
                                : QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_C:
        if (ctrl) {
            // The whole text, though nothing is ever seen selected.
            QApplication::clipboard()->setText(m_text->document()->toPlainText());
            return true;
        }
        break;
    case Qt::Key_Escape:
        return QDialog::eventFilter(watched, event);
    default:
        break;
    }
    if (ctrl || shift)
        return true; // swallowed: nothing selects, nothing edits
    return QDialog::eventFilter(watched, event);
}
