#include "view/OpenLink.h"

#include "platform/Prompt.h"
#include "platform/QtText.h"
#include "view/HistoryModel.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

void OpenUrlWithDesktop(const QUrl& url, OpenResult done)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        bool opened = QDesktopServices::openUrl(url);
        if (done)
            done(opened);
        return;
    }
    // No parent: a handler still running when the program ends is left to run.
    auto* process = new QProcess;
    process->setProgram(opener);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // Told once, whichever of the two signals comes.
    auto report = [process, finish = std::make_shared<OpenResult>(std::move(done))](bool opened) {
        if (*finish)
            (*finish)(opened);
        *finish = nullptr;
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::finished, process,
                     [report](int code, QProcess::ExitStatus status) {
                         report(status == QProcess::NormalExit && code == 0);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [report](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             report(false);
                     });
    process->start();
}

QUrl LinkUrl(const std::string& text)
{
    if (IsNetworkPath(text))
        return QUrl(FromCp1252(NetworkPathUrl(text)));
    if (IsDrivePath(text))
        return {}; // no drive letters here: not a web address either
    const QString qtText = FromCp1252(text);
    if (QFileInfo::exists(qtText))
        return QUrl::fromLocalFile(qtText);
    const QUrl url(qtText, QUrl::TolerantMode);
    if (url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1)
        return url;
    return QUrl::fromUserInput(qtText);
}

void OpenLink(const std::string& text, bool showErrors, IPrompt* prompt, const UrlOpener& opener,
              QObject* context, const std::string& failureText)
{
    QPointer<QObject> alive(context);
    const bool guarded = context != nullptr;
    const std::string told = failureText.empty() ? OpenLinkFailureText(text) : failureText;
    auto failed = [=] {
        if (showErrors && prompt && (!guarded || alive))
            prompt->MessageBox(told, "Zib Tam", PromptButtons::Ok, PromptIcon::Warning);
    };
    const QUrl url = LinkUrl(text);
    if (!url.isValid() || !opener) {
        failed();
        return;
    }
    opener(url, [failed](bool opened) {
        if (!opened)
            failed();
    });
}
