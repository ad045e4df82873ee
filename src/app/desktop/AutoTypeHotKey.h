#pragma once
// The AutoType hot key (Control+Alt+Shift+N) of the chat window: registered at the window's
// initialisation only while "AutoType" is non-empty, and typing the text once the key is
// let go (while it is held, the keyboard is ours and typed keys would come back to us).
#include "app/desktop/X11HotKeys.h"
#include "autotype/AutoTyper.h"
#include "autotype/X11Keyboard.h"

#include <QObject>
#include <QTimer>
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
    // What a press of the key does, once it is let go.
    void Type();

private:
    CX11Keyboard m_keyboard;
    CAutoType m_autoType;
    CX11HotKeys m_hotKeys;
    bool m_registered = false;
    QTimer m_restoreMapping; // gives back keys lent to characters the layout lacks
};
