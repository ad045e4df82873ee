#include "view/OpenLink.h"

#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "view/HistoryModel.h"

#include <QDesktopServices>
#include <QFileInfo>

bool OpenUrlWithDesktop(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

QUrl LinkUrl(const std::string& text)
{
    if (IsNetworkPath(text))
        return QUrl(FromCp1252(NetworkPathUrl(text)));
    const QString qtText = FromCp1252(text);
    if (QFileInfo::exists(qtText))
        return QUrl::fromLocalFile(qtText);
    const QUrl url(qtText, QUrl::TolerantMode);
    if (url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1)
        return url;
    return QUrl::fromUserInput(qtText);
}

bool OpenLink(const std::string& text, bool showErrors, IPrompt* prompt, const UrlOpener& opener)
{
    const QUrl url = LinkUrl(text);
    if (url.isValid() && opener(url))
        return true;
    if (showErrors && prompt)
        prompt->MessageBox(OpenLinkFailureText(text), "Zib Tam", PromptButtons::Ok,
                           PromptIcon::Warning);
    return false;
}
