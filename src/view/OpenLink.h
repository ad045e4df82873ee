#pragma once
// Opens a web or e-mail address, a file or a network path ("\\host\share") with the
// desktop's handler, as the history's links and the About box's link texts do. The opener
// runs in the background; its outcome comes back later, and a failure is told then.
//
//   OpenLink("www.example.org", true, &prompt);   // failure: a message box through prompt
#include <QUrl>
#include <functional>
#include <string>

class IPrompt;
class QObject;

// Hears whether the desktop could open the address (called from the event loop, or at once).
using OpenResult = std::function<void(bool opened)>;
// Hands an address to the desktop and reports the outcome to `done`; tests put their own in.
using UrlOpener = std::function<void(const QUrl&, OpenResult done)>;

// Asked before a link in somebody else's message opens a file of this computer.
inline constexpr char kOpenFileQuestion[] = "This link opens a file on your computer:\n\n";

// The desktop's opener (xdg-open), whose exit status is the outcome; where there is none,
// QDesktopServices.
void OpenUrlWithDesktop(const QUrl& url, OpenResult done);

// The address a text stands for: its own scheme, an existing local file, a network path as
// smb://, or what the user would mean typing it into a browser. Invalid for a drive path.
QUrl LinkUrl(const std::string& text);

// With `showErrors`, a failure is told through `prompt` once the opener has answered, unless
// `context` (when given) is gone by then: in `failureText`, or when that is empty in the
// program's words for the kind of address (OpenLinkFailureText).
void OpenLink(const std::string& text, bool showErrors, IPrompt* prompt,
              const UrlOpener& opener = OpenUrlWithDesktop, QObject* context = nullptr,
              const std::string& failureText = {});
