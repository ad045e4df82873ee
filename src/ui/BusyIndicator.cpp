#include "ui/BusyIndicator.h"

#include "platform/QtText.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
bool g_stopAllWaits = false;
int g_userWaits = 0;
} // namespace

CBusyIndicator::UserWaits::UserWaits()
{
    ++g_userWaits;
}

CBusyIndicator::UserWaits::~UserWaits()
{
    --g_userWaits;
}

bool CBusyIndicator::UserWaits::Active()
{
    return g_userWaits > 0;
}

CBusyIndicator::CBusyIndicator() : m_delayTimer(new QTimer(this)), m_limitTimer(new QTimer(this))
{
    m_delayTimer->setSingleShot(true);
    connect(m_delayTimer, &QTimer::timeout, this, &CBusyIndicator::ShowProgressWindow);
    m_limitTimer->setSingleShot(true);
    connect(m_limitTimer, &QTimer::timeout, this, [this] { m_timedOut = true; });
}

void CBusyIndicator::StopAllWaits()
{
    g_stopAllWaits = true;
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

CBusyIndicator::~CBusyIndicator()
{
    Finish();
}

void CBusyIndicator::Start(const QString& text, int delayMs, QWidget* window, bool attended)
{
    if (m_running)
        return;
    m_running = true;
    m_text = text;
    m_delayMs = delayMs;
    m_cancelled = false;
    m_quitSeen = false;
    m_timedOut = false;
    // Not the active window in its place: that may be this window, hidden, and a progress
    // window over a hidden one pops up in the middle of the screen.
    m_window = window;
    m_attended = attended && m_window;
    if (m_attended) {
        m_delayTimer->start(delayMs);
        SetWaitCursor(true);
    } else {
        m_limitTimer->start(kUnattendedLimitMs);
    }
    qApp->installEventFilter(this);
}

void CBusyIndicator::SetText(const QString& text)
{
    m_text = text;
    if (m_progressText)
        m_progressText->setText(text);
}

void CBusyIndicator::SetText(const std::string& text)
{
    SetText(FromCp1252(text));
}

void CBusyIndicator::SetCancelEnabled(bool enable)
{
    m_cancelEnabled = enable;
    if (!enable)
        m_cancelled = false;
    if (m_cancel)
        m_cancel->setEnabled(enable);
}

void CBusyIndicator::ShowProgressWindow()
{
    if (!m_running || !m_attended || !m_window || !m_window->isVisible() || m_progress)
        return;
    SetWaitCursor(false);
    m_progress = new QDialog(m_window, Qt::Dialog);
    m_progress->setObjectName(QStringLiteral("busyProgress"));
    m_progress->setWindowTitle(QStringLiteral("Zib Tam Freeware"));
    m_progress->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(m_progress);
    m_progressText = new QLabel(m_text, m_progress);
    m_progressText->setWordWrap(true);
    m_progressText->setMinimumWidth(260);
    layout->addWidget(m_progressText);
    auto* bar = new QProgressBar(m_progress);
    bar->setRange(0, 0);
    bar->hide(); // the operations have no measure of how far they are
    layout->addWidget(bar);
    auto* row = new QHBoxLayout;
    row->addStretch();
    m_cancel = new QPushButton(QStringLiteral("Cancel"), m_progress);
    m_cancel->setAccessibleName(QStringLiteral("Cancel"));
    m_cancel->setEnabled(m_cancelEnabled);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_cancelEnabled)
            m_cancelled = true;
    });
    row->addWidget(m_cancel);
    layout->addLayout(row);
    // Escape or the caption's close button are Cancel too.
    connect(m_progress, &QDialog::rejected, m_cancel, &QPushButton::click);
    m_progress->setModal(false);
    m_progress->show();
    m_progress->raise();
}

bool CBusyIndicator::Poll()
{
    if (!m_running)
        return true;
    if (!g_stopAllWaits) {
        QEventLoop loop;
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return !m_running || m_quitSeen || m_cancelled || m_timedOut || g_stopAllWaits;
}

void CBusyIndicator::Finish()
{
    if (!m_running)
        return;
    qApp->removeEventFilter(this);
    // The progress window had the focus: give it back to the window the user waited in.
    if (m_progress && m_window && m_window->isVisible())
        m_window->activateWindow();
    m_delayTimer->stop();
    m_limitTimer->stop();
    if (m_progress) {
        m_progress->hide();
        delete m_progress;
    }
    m_progressText = nullptr;
    m_cancel = nullptr;
    SetWaitCursor(false);
    m_text.clear();
    m_delayMs = 0;
    m_window = nullptr;
    m_attended = false;
    m_running = false;
    HandOnHeldKeys();
}

void CBusyIndicator::HandOnHeldKeys()
{
    // Posted in the order typed; a wait still running around this one holds them again.
    std::vector<HeldKey> keys = std::move(m_heldKeys);
    m_heldKeys.clear();
    for (HeldKey& key : keys)
        if (key.Target)
            QCoreApplication::postEvent(key.Target, key.Event.release());
}

bool CBusyIndicator::HoldsBack(QObject* watched, QEvent* event)
{
    if (!m_window || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != m_window)
        return false; // the progress window, the tray menu, other windows
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        m_heldKeys.push_back({widget, std::unique_ptr<QEvent>(event->clone())});
        return true;
    case QEvent::ShortcutOverride:
        // Claimed, so that no shortcut runs now; the key itself is held back above.
        event->accept();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        return true;
    default:
        return false;
    }
}

bool CBusyIndicator::eventFilter(QObject* watched, QEvent* event)
{
    // The quit goes on to the application, which ends the outer loop once the wait is over.
    if (watched == qApp && event->type() == QEvent::Quit)
        m_quitSeen = true;
    return HoldsBack(watched, event);
}

void CBusyIndicator::SetWaitCursor(bool on)
{
    if (on == m_waitCursor)
        return;
    m_waitCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

std::unique_ptr<IBusyIndicator> CBusyIndicatorFactory::StartBusy(const std::string& text)
{
    auto indicator = std::make_unique<CBusyIndicator>();
    QWidget* window = m_window && m_window->isVisible() ? m_window.data() : nullptr;
    indicator->Start(FromCp1252(text), CBusyIndicator::kDefaultDelayMs, window,
                     CBusyIndicator::UserWaits::Active());
    return indicator;
}
