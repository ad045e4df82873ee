#include "setup/UpgradeDownload.h"

#include "platform/Prompt.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

std::string UpgradeSetupName(bool secondary)
{
    return secondary ? "SetupSecondary" : "ZibTamSetup";
}

bool IsPackageInstall(const std::string& executable)
{
    return executable.rfind("/usr/", 0) == 0;
}

bool FetchUpgrade(const std::string& url, bool secondary, std::string& path, std::string& error,
                  int timeoutMs)
{
    path.clear();
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string folder = base + "/zibtam-upgrade-XXXXXX";
    if (!mkdtemp(folder.data())) {
        error = "no folder could be made in the temporary folder " + base + ".";
        return false;
    }
    std::string target = folder + "/" + UpgradeSetupName(secondary);
    std::string part = target + ".part";
    auto giveUp = [&](const std::string& why) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        error = why;
        return false;
    };

    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out)
        return giveUp("the file " + part + " could not be created.");

    // Redirects are followed here, one reply at a time, so that every check below reads
    // the headers of the reply that carried the file.
    QNetworkAccessManager network;
    QUrl address(QString::fromLatin1(url.c_str()));
    std::unique_ptr<QNetworkReply> reply;
    qint64 received = 0;
    bool writeFailed = false;
    for (int redirects = 0;; ++redirects) {
        QNetworkRequest request(address);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(timeoutMs);
        reply.reset(network.get(request));
        received = 0;
        QObject::connect(reply.get(), &QNetworkReply::readyRead, [&] {
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
                return;
            QByteArray bytes = reply->readAll();
            received += bytes.size();
            if (!out.write(bytes.constData(), bytes.size()))
                writeFailed = true;
        });
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        QVariant location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
        if (!location.isValid() || redirects == 5)
            break;
        address = address.resolved(location.toUrl());
    }
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
        QByteArray rest = reply->readAll();
        received += rest.size();
        out.write(rest.constData(), rest.size());
    }
    out.close();

    if (reply->error() != QNetworkReply::NoError)
        return giveUp(reply->errorString().toStdString() + ".");
    int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 200)
        return giveUp(
            "the server answered " + std::to_string(status) + " " +
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().toStdString() +
            ".");
    QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (received == 0 || (length.isValid() && length.toLongLong() != received))
        return giveUp("the file arrived incomplete (" + std::to_string(received) + " of " +
                      (length.isValid() ? std::to_string(length.toLongLong()) : "?") + " bytes).");
    if (writeFailed || out.fail())
        return giveUp("the file " + part + " could not be written.");

    std::error_code failure;
    fs::permissions(part,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    failure);
    if (!failure)
        fs::rename(part, target, failure);
    if (failure)
        return giveUp("the file " + target + " could not be made executable.");
    path = target;
    return true;
}

namespace {

std::string WithArgument(const char* text, const std::string& argument)
{
    std::string result = text;
    result.replace(result.find("%s"), 2, argument);
    return result;
}

bool StartDetached(const std::string& path)
{
    return QProcess::startDetached(QFile::decodeName(path.c_str()), {});
}

} // namespace

bool RunUpgrade(const std::string& url, IPrompt& prompt, bool secondary,
                const std::string& executable, bool (*start)(const std::string& path))
{
    const std::string caption = secondary ? "Zib Tam (Secondary)" : "Zib Tam";
    if (IsPackageInstall(executable)) {
        prompt.MessageBox(WithArgument(kUpgradePackageText, url), caption, PromptButtons::Ok,
                          PromptIcon::Information);
        return false;
    }
    if (prompt.MessageBox(WithArgument(kUpgradeConfirmText, url), caption, PromptButtons::YesNo,
                          PromptIcon::Question) != PromptAnswer::Yes)
        return false;
    std::string path, error;
    if (!FetchUpgrade(url, secondary, path, error)) {
        prompt.MessageBox(WithArgument(kUpgradeFailedText, url) + "\n\n" + error, caption,
                          PromptButtons::Ok, PromptIcon::Warning);
        return false;
    }
    if (!(start ? start : StartDetached)(path)) {
        prompt.MessageBox(WithArgument(kUpgradeStartFailedText, path), caption, PromptButtons::Ok,
                          PromptIcon::Warning);
        std::error_code ignored;
        fs::remove_all(fs::path(path).parent_path(), ignored);
        return false;
    }
    return true;
}
