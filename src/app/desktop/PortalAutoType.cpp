#include "app/desktop/PortalAutoType.h"

#include "platform/QtText.h"
#include "settings/Options.h"

#include <QClipboard>
#include <QGuiApplication>
#include <utility>

namespace {

// The desktop's grant of the keyboard, kept for the next start where the portal allows.
constexpr TextOption kRestoreToken{"AutoTypeRestoreToken", ""};

} // namespace

CPortalAutoType::CPortalAutoType(COptions& options, const IClock& clock,
                                 std::function<void(const std::string&)> notice, QObject* parent)
    : QObject(parent), m_options(options), m_clock(clock), m_notice(std::move(notice)),
      m_keyboard(QString::fromStdString(options.Get(kRestoreToken)))
{
    connect(&m_keyboard, &CPortalKeyboard::Failed, this, &CPortalAutoType::ToClipboard);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive && std::exchange(m_waitingForFocus, false))
                    ToClipboard(m_waitingWhy);
            });
    connect(&m_keyboard, &CPortalKeyboard::RestoreTokenChanged, this,
            [this](const QString& token) { m_options.Set(kRestoreToken, token.toStdString()); });
}

void CPortalAutoType::Type()
{
    std::string format = m_options.Get(Opt::AutoType);
    if (format.empty())
        return;
    m_text = AutoTypeText(format, m_clock.Now());
    if (!m_keyboard.IsAvailable()) {
        ToClipboard(PortalOutcome::Missing);
        return;
    }
    CAutoTyper typer(m_keyboard, m_keyboard);
    typer.TypeText(m_text);
    typer.Inject();
}

bool CPortalAutoType::DefaultClipboardNeedsFocus()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
           QGuiApplication::applicationState() != Qt::ApplicationActive;
}

void CPortalAutoType::ToClipboard(PortalOutcome why)
{
    if (ClipboardNeedsFocus && ClipboardNeedsFocus()) {
        // Said as it is: the text is not on the clipboard yet.
        m_waitingForFocus = true;
        m_waitingWhy = why;
        if (!std::exchange(m_saidWaiting, true) && m_notice)
            m_notice(kWaitingForFocusText);
        return;
    }
    QGuiApplication::clipboard()->setText(FromCp1252(m_text));
    bool refused = why == PortalOutcome::Declined;
    bool& said = refused ? m_saidRefused : m_saidNoTyping;
    if (!said && m_notice)
        m_notice(refused ? kRefusedText : kNoTypingText);
    said = true;
}
