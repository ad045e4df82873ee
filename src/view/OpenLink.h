#pragma once
// Opens a web or e-mail address, a file or a network path ("\\host\share") with the
// desktop's handler, as the history's links and the About box's link texts do.
//
//   OpenLink("www.example.org", true, prompt);   // failure: a message box through prompt
#include <QUrl>
#include <functional>
#include <string>

class IPrompt;

using UrlOpener = std::function<bool(const QUrl&)>;

// QDesktopServices::openUrl.
bool OpenUrlWithDesktop(const QUrl& url);

// The address a text stands for: its own scheme, an existing local file, a network path as
// smb://, or what the user would mean typing it into a browser.
QUrl LinkUrl(const std::string& text);

// With `showErrors`, a failure is told through `prompt` in the program's words.
bool OpenLink(const std::string& text, bool showErrors, IPrompt* prompt,
              const UrlOpener& opener = OpenUrlWithDesktop);
