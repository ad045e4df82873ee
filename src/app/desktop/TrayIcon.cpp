#include "app/desktop/TrayIcon.h"

#include "app/desktop/HotKeys.h"
#include "app/desktop/ProgramIcons.h"
#include "app/desktop/StatusNotifierItem.h"
#include "ui/HelpCommands.h"

#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

CTrayIcon::CTrayIcon(const InstanceIdentity& identity, const IClock& clock, IRandom& random,
                     QObject* parent)
    : QObject(parent), m_identity(identity), m_random(random), m_menu(std::make_unique<QMenu>()),
      m_animation(clock)
{
    auto add = [this](QMenu* menu, const char* text, int command) {
        QAction* action = menu->addAction(QString::fromLatin1(text));
        connect(action, &QAction::triggered, this,
                [this, command] { emit CommandChosen(command); });
        return action;
    };
    // The first item names this copy's own key, as the desktop calls it.
    QAction* chat = add(m_menu.get(), "&Chat!", kChat);
    chat->setText(QStringLiteral("&Chat!\t") +
                  QString::fromStdString(HotKeyText(ChatHotKeys(identity).front())));
    m_menu->setDefaultAction(chat);
    m_menu->addSeparator();
    add(m_menu.get(), "&Options...", kOptions);
    QMenu* help = m_menu->addMenu(QStringLiteral("&Help"));
    add(help, "&Contents", kHelpContents);
    if (*kHomePageAddress)
        add(help, "&Zib Tam Home Page", kHomePage);
    if (*kSupportAddress)
        add(help, "&E-mail Support Team...", kEmailSupport);
    add(help, "&About Zib Tam 2.5", kAbout);
    m_menu->addSeparator();
    add(m_menu.get(), "E&xit", kExit);

    if (CStatusNotifierItem::IsWatcherRunning()) {
        m_item = std::make_unique<CStatusNotifierItem>(
            QString::fromLatin1(identity.Secondary ? "zibtam-secondary" : "zibtam"),
            QString::fromLatin1(identity.Secondary ? "Zib Tam (Secondary)" : "Zib Tam"));
        m_item->SetAttentionIcon(AttentionIcon());
        m_item->SetToolTip(QString::fromLatin1(kTip));
        connect(m_item.get(), &CStatusNotifierItem::Activated, this,
                [this] { emit CommandChosen(kChat); });
        connect(m_item.get(), &CStatusNotifierItem::ContextMenuRequested, this,
                [this](const QPoint& at) { m_menu->popup(at); });
    } else {
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setContextMenu(m_menu.get());
        m_tray->setToolTip(QString::fromLatin1(kTip));
        connect(m_tray.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        emit CommandChosen(kChat);
                });
    }

    m_animationTimer.setTimerType(Qt::PreciseTimer);
    m_animationTimer.setInterval(static_cast<int>(CIconAnimation::kFrameMs / 4));
    connect(&m_animationTimer, &QTimer::timeout, this, &CTrayIcon::Animate);
    SetStatus(false);
}

CTrayIcon::~CTrayIcon()
{
    if (m_tray)
        m_tray->hide();
}

bool CTrayIcon::IsAvailable() const
{
    return m_item ? m_item->IsShown() : QSystemTrayIcon::isSystemTrayAvailable();
}

void CTrayIcon::SetStatus(bool connected)
{
    m_connected = connected;
    // A running animation puts the status back when it ends.
    if (!m_animation.IsRunning())
        SetIcon(connected ? m_identity.LargeIcon : (m_identity.Secondary ? 207 : 202));
}

void CTrayIcon::SetIcon(int id)
{
    m_iconId = id;
    Show();
}

void CTrayIcon::SetAttention(bool on)
{
    if (m_item) {
        if (on)
            m_item->SetNeedsAttention(true);
        return;
    }
    if (m_attention == on)
        return;
    m_attention = on;
    Show();
}

void CTrayIcon::EndAttention()
{
    if (m_item)
        m_item->SetNeedsAttention(false);
    else
        SetAttention(false);
}

void CTrayIcon::Show()
{
    if (m_item) {
        m_item->SetIcon(ProgramIcon(m_iconId));
        return;
    }
    m_tray->setIcon(m_attention ? AttentionIcon() : ProgramIcon(m_iconId));
    m_tray->setToolTip(QString::fromLatin1(kTip));
    if (!m_tray->isVisible())
        m_tray->show();
}

void CTrayIcon::AppendAnimation(const std::vector<int>& frames)
{
    if (frames.empty())
        return;
    m_animation.Append(frames);
    if (!m_animationTimer.isActive())
        m_animationTimer.start();
}

void CTrayIcon::Animate()
{
    int step = m_animation.Step();
    if (step == CIconAnimation::kStatusIcon)
        SetStatus(m_connected);
    else if (step != CIconAnimation::kNoChange)
        SetIcon(step);
    if (!m_animation.IsRunning())
        m_animationTimer.stop();
}

void CTrayIcon::OnKeyPressed(int virtualKey)
{
    // Typing in our own windows never counts.
    bool ours = QGuiApplication::focusWindow() != nullptr;
    int variant = m_matcher.Feed(virtualKey, ours);
    AppendAnimation(CKeySequenceMatcher::AnimationFrames(variant, m_identity.Secondary, m_random));
}
