#include "app/desktop/X11HotKeys.h"

#include "platform/X11KeyMap.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

constexpr uint32_t kNumLock = 0xff7f;
constexpr uint32_t kSuperLeft = 0xffeb;
constexpr uint32_t kAltLeft = 0xffe9;
constexpr uint8_t kBadAccess = 10;
// X sends no event when a modifier is let go over another program's window: the keyboard's
// state is read this often instead.
constexpr int kReleasePollMs = 10;

} // namespace

CX11HotKeys::CX11HotKeys(QObject* parent) : QObject(parent)
{
    m_connection = QtX11Connection();
    if (!m_connection)
        return;
    m_root = QtX11Root();
    CX11KeyMap keyboard(m_connection);
    m_numLock = keyboard.ModifierOf(kNumLock);
    m_super = keyboard.ModifierOf(kSuperLeft);
    m_alt = keyboard.ModifierOf(kAltLeft);
    if (!m_super)
        m_super = XCB_MOD_MASK_4;
    if (!m_alt)
        m_alt = XCB_MOD_MASK_1;
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_releasePoll.setInterval(kReleasePollMs);
    connect(&m_releasePoll, &QTimer::timeout, this, &CX11HotKeys::CheckRelease);
}

CX11HotKeys::~CX11HotKeys()
{
    UnregisterAll();
    if (m_connection && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool CX11HotKeys::IsAvailable()
{
    return QtX11Connection() != nullptr;
}

std::vector<uint16_t> CX11HotKeys::LockCombinations() const
{
    std::vector<uint16_t> locks = {0, XCB_MOD_MASK_LOCK};
    if (m_numLock) {
        locks.push_back(m_numLock);
        locks.push_back(static_cast<uint16_t>(m_numLock | XCB_MOD_MASK_LOCK));
    }
    return locks;
}

HotKeyResult CX11HotKeys::Register(const HotKey& key)
{
    if (!m_connection)
        return HotKeyResult::Unavailable;
    Unregister(key.Id);
    // Letters and digits are their own key symbols (lower case for letters).
    uint8_t keyCode = CX11KeyMap(m_connection).KeyCode(static_cast<unsigned char>(key.Key));
    if (keyCode == 0)
        return HotKeyResult::Invalid;
    uint16_t modifiers = 0;
    if (key.Modifiers & kHotKeyShift)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (key.Modifiers & kHotKeyControl)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (key.Modifiers & kHotKeyAlt)
        modifiers |= m_alt;
    if (key.Modifiers & kHotKeySuper)
        modifiers |= m_super;

    // Checked requests bring each error back to us instead of to Qt's error handler, which
    // would only print it.
    std::vector<xcb_void_cookie_t> cookies;
    for (uint16_t locks : LockCombinations())
        cookies.push_back(xcb_grab_key_checked(m_connection, 1, m_root,
                                               static_cast<uint16_t>(modifiers | locks), keyCode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    bool taken = false, failed = false;
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(m_connection, cookie)) {
            (error->error_code == kBadAccess ? taken : failed) = true;
            std::free(error);
        }
    }
    Grab grab{key.Id, keyCode, modifiers};
    if (taken || failed) {
        Ungrab(grab);
        return taken ? HotKeyResult::Taken : HotKeyResult::Invalid;
    }
    m_grabs.push_back(grab);
    return HotKeyResult::Registered;
}

void CX11HotKeys::Ungrab(const Grab& grab)
{
    for (uint16_t locks : LockCombinations())
        xcb_ungrab_key(m_connection, grab.KeyCode, m_root,
                       static_cast<uint16_t>(grab.Modifiers | locks));
    xcb_flush(m_connection);
}

void CX11HotKeys::Unregister(uint32_t id)
{
    for (auto it = m_grabs.begin(); it != m_grabs.end();) {
        if (it->Id == id) {
            Ungrab(*it);
            it = m_grabs.erase(it);
        } else {
            ++it;
        }
    }
}

void CX11HotKeys::UnregisterAll()
{
    for (const Grab& grab : m_grabs)
        Ungrab(grab);
    m_grabs.clear();
}

bool CX11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || m_grabs.empty())
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
        return false;
    auto* press = static_cast<xcb_key_press_event_t*>(message);
    if (press->event != m_root)
        return false;
    uint16_t significant = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | m_alt | m_super;
    uint16_t held = press->state & significant;
    for (const Grab& grab : m_grabs) {
        if (grab.KeyCode == press->detail && grab.Modifiers == held) {
            uint32_t id = grab.Id;
            // Acted on from the event loop, not from inside Qt's event dispatch.
            QMetaObject::invokeMethod(
                this, [this, id] { emit Pressed(id); }, Qt::QueuedConnection);
            WatchRelease(grab);
            break;
        }
    }
    // Qt still sees the press, so that its idea of the user's last action (which the
    // window manager asks for when we raise a window) stays current.
    return false;
}

void CX11HotKeys::WatchRelease(const Grab& grab)
{
    // A key held down repeats its press; the release is awaited once.
    if (std::find(m_releaseIds.begin(), m_releaseIds.end(), grab.Id) != m_releaseIds.end())
        return;
    m_releaseIds.push_back(grab.Id);
    m_pressedKeyCodes.push_back(grab.KeyCode);
    if (m_releasePoll.isActive())
        return;
    // The modifier table is read at each press: the user may have changed it meanwhile.
    m_modifierKeyCodes = CX11KeyMap(m_connection).ModifierKeyCodes();
    m_heldFor.start();
    m_releasePoll.start();
}

bool CX11HotKeys::AnyKeyDown(const std::vector<uint8_t>& keyCodes) const
{
    auto* reply = xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr);
    if (!reply)
        return false;
    bool down = false;
    for (uint8_t code : keyCodes)
        down = down || (reply->keys[code / 8] & (1u << (code % 8)));
    std::free(reply);
    return down;
}

void CX11HotKeys::CheckRelease()
{
    // The grab lasts while the key is down (its repeats press it again): no limit here.
    if (AnyKeyDown(m_pressedKeyCodes)) {
        m_heldFor.start();
        return;
    }
    if (AnyKeyDown(m_modifierKeyCodes) && m_heldFor.elapsed() < kHoldLimitMs)
        return;
    m_releasePoll.stop();
    m_pressedKeyCodes.clear();
    std::vector<uint32_t> ids;
    ids.swap(m_releaseIds);
    for (uint32_t id : ids)
        emit Released(id);
}
