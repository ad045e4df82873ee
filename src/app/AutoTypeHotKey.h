#pragma once
// The AutoType hot key (Control+Alt+Shift+N) of the chat window: registered at the window's
// initialisation only while "AutoType" is non-empty, and typing the text when pressed.
#include "app/X11HotKeys.h"
#include "autotype/AutoTyper.h"
#include "autotype/X11Keyboard.h"

#include <QObject>
#include <functional>
#include <memory>

class CAutoTypeHotKey : public QObject
{
    Q_OBJECT
public:
    // `report` shows a text to the user (the registration failure, or once that typing
    // cannot work on this desktop).
    CAutoTypeHotKey(const COptions& options, const IClock& clock, bool secondary,
                    std::function<void(const std::string&)> report, QObject* parent = nullptr);

    bool IsRegistered() const { return m_registered; }
    // What a press of the key does.
    void Type() { m_autoType.OnHotKey(); }

private:
    CX11Keyboard m_keyboard;
    CAutoType m_autoType;
    CX11HotKeys m_hotKeys;
    bool m_registered = false;
};
