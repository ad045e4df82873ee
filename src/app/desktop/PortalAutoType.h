#pragma once
// AutoType on a Wayland desktop: the text typed through the desktop portal's keyboard
// (CPortalKeyboard) when the hot key is let go. Where the desktop does not let us type, or
// the user does not allow it, the text goes to the clipboard instead and a notice says so,
// once for each reason.
#include "autotype/PortalKeyboard.h"

#include <QObject>
#include <functional>
#include <string>

class COptions;
class IClock;

class CPortalAutoType : public QObject
{
    Q_OBJECT
public:
    // `notice` posts a text into the chat history.
    CPortalAutoType(COptions& options, const IClock& clock,
                    std::function<void(const std::string&)> notice, QObject* parent = nullptr);

    // Types the current "AutoType" text; nothing when it is empty.
    void Type();

    static constexpr char kNoTypingText[] =
        "The \"AutoType\" text is on the clipboard, to be pasted with Control+V: this desktop "
        "does not let programs type into others (its desktop portal has no RemoteDesktop "
        "service).";
    static constexpr char kRefusedText[] =
        "The \"AutoType\" text is on the clipboard, to be pasted with Control+V: typing it was "
        "refused when the desktop asked whether Zib Tam may use the keyboard.";
    static constexpr char kWaitingForFocusText[] =
        "The \"AutoType\" text goes on the clipboard as soon as a Zib Tam window is in front: "
        "this desktop lets only the program in front change the clipboard.";

    // Whether the clipboard can be set only once one of our windows has the focus (a
    // Wayland desktop refuses it otherwise, without a word to the program). Replaceable
    // for tests.
    static bool DefaultClipboardNeedsFocus();
    static inline std::function<bool()> ClipboardNeedsFocus =
        &CPortalAutoType::DefaultClipboardNeedsFocus;

private:
    void ToClipboard(PortalOutcome why);

    COptions& m_options;
    const IClock& m_clock;
    std::function<void(const std::string&)> m_notice;
    CPortalKeyboard m_keyboard;
    std::string m_text; // the text of the last press
    bool m_saidNoTyping = false;
    bool m_saidRefused = false;
    bool m_saidWaiting = false;
    bool m_waitingForFocus = false; // the text goes on the clipboard once we are in front
    PortalOutcome m_waitingWhy = PortalOutcome::Missing;
};
