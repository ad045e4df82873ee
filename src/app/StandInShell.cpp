#include "app/StandInShell.h"

#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "ui/OptionsSheet.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace {

QString Title(bool secondary, const char* base)
{
    QString title = QString::fromLatin1(base);
    if (secondary)
        title += QStringLiteral(" (Secondary)");
    return title;
}

const char* NetworkingText(int type)
{
    switch (type) {
    case 1:
        return "peer-to-peer";
    case 2:
        return "client of a server";
    case 3:
        return "server";
    default:
        return "not configured";
    }
}

} // namespace

QIcon MakeApplicationIcon(bool secondary)
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(secondary ? QColor(0x2e, 0x7d, 0x32) : QColor(0x1f, 0x5f, 0xbf));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 5.0, size / 5.0);
        painter.setPen(Qt::white);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(size * 3 / 4);
        painter.setFont(font);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("Z"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

CChatWindowStandIn::CChatWindowStandIn(COptions& options, bool secondary)
    : m_options(options), m_status(new QLabel(this))
{
    setWindowTitle(Title(secondary, "Zib Tam"));
    setWindowIcon(MakeApplicationIcon(secondary));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    auto* exit = new QPushButton(QStringLiteral("E&xit"), this);
    layout->addWidget(exit);
    connect(exit, &QPushButton::clicked, qApp, [] { QApplication::exit(0); });
    resize(options.Get(Opt::DlgWidth), options.Get(Opt::DlgHeight));

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(windowIcon(), this);
        m_tray->setToolTip(windowTitle());
        auto* menu = new QMenu(this);
        menu->addAction(QStringLiteral("&Open Zib Tam"), this, &CChatWindowStandIn::ShowFromTray);
        menu->addSeparator();
        menu->addAction(QStringLiteral("E&xit"), qApp, [] { QApplication::exit(0); });
        m_tray->setContextMenu(menu);
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger)
                        ShowFromTray();
                });
        m_tray->show();
    }
    Refresh();
}

void CChatWindowStandIn::Refresh()
{
    m_status->setText(QStringLiteral("Signed in as %1 (%2).")
                          .arg(FromCp1252(m_options.GetUserName()),
                               QString::fromLatin1(NetworkingText(m_options.GetNetworkingType()))));
}

void CChatWindowStandIn::ShowFromTray()
{
    Refresh();
    showNormal();
    raise();
    activateWindow();
}

void CChatWindowStandIn::closeEvent(QCloseEvent* event)
{
    // Closing only hides the window; without a tray it stays on the task bar.
    event->ignore();
    if (m_tray)
        hide();
    else
        showMinimized();
}

CStandInShell::CStandInShell(COptions& options, IPrompt& prompt, const ISystemInfo& system,
                             bool secondary)
    : m_options(options), m_prompt(prompt), m_system(system), m_secondary(secondary)
{}

CStandInShell::~CStandInShell()
{
    delete m_chat;
}

bool CStandInShell::HandleSetupCommandLine(const std::string&)
{
    return false; // setup is not part of this build yet
}

void CStandInShell::RunLogViewer()
{
    QWidget window;
    window.setWindowTitle(Title(m_secondary, "Zib Tam Log Viewer"));
    window.setWindowIcon(MakeApplicationIcon(m_secondary));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(
        QStringLiteral("Log: %1").arg(QString::fromStdString(m_options.GetLogPath())), &window));
    window.setAttribute(Qt::WA_QuitOnClose, false);
    m_logViewer = &window;
    QEventLoop loop;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    window.show();
    while (window.isVisible())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}

bool CStandInShell::RunFirstRunOptions()
{
    CStandardOptionsHost host(m_system);
    return ::RunFirstRunOptions({m_options, m_prompt, host});
}

void CStandInShell::InstallKeyboardWatcher()
{
    // The desktop-wide key watcher needs X11 and arrives with the hot keys.
}

void CStandInShell::CreateChatWindow()
{
    m_chat = new CChatWindowStandIn(m_options, m_secondary);
    if (!m_chat->HasTray())
        m_chat->showMinimized();
}

void CStandInShell::ShowRequested()
{
    if (m_logViewer) {
        m_logViewer->showNormal();
        m_logViewer->raise();
        m_logViewer->activateWindow();
    } else if (m_chat) {
        m_chat->ShowFromTray();
    }
}
