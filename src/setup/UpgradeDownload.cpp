#include "setup/UpgradeDownload.h"

#include "common/FormatText.h"
#include "net/UpgradeService.h"
#include "platform/Prompt.h"
#include "setup/LinuxSetupSystem.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// What the network layer may hold of the reply before we have written it out.
constexpr qint64 kReplyBufferBytes = 1 << 20;
// As much of an answer to "--version" as is read; the line needed is far shorter.
constexpr qsizetype kVersionAnswerBytes = 4096;

bool SameServer(const QUrl& a, const QUrl& b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port(80) == b.port(80);
}

std::string HostOf(const std::string& url)
{
    QString host = QUrl(QString::fromLatin1(url.c_str())).host();
    return host.isEmpty() ? url : host.toStdString();
}

bool StartDetached(const std::string& path)
{
    return QProcess::startDetached(QFile::decodeName(path.c_str()), {});
}

void RemoveFetched(const std::string& path)
{
    std::error_code ignored;
    fs::remove_all(fs::path(path).parent_path(), ignored);
}

// The identifying part of an ELF header: class, byte order, version, machine and kind.
struct ElfKind
{
    unsigned char Class = 0;
    unsigned char Data = 0;
    uint16_t Type = 0;
    uint16_t Machine = 0;
};

bool ReadElfKind(const std::string& path, ElfKind& kind)
{
    std::ifstream file(path, std::ios::binary);
    unsigned char header[sizeof(Elf64_Ehdr)] = {};
    if (!file.read(reinterpret_cast<char*>(header), sizeof header) ||
        std::memcmp(header, ELFMAG, SELFMAG) != 0 || header[EI_VERSION] != EV_CURRENT)
        return false;
    kind.Class = header[EI_CLASS];
    kind.Data = header[EI_DATA];
    // e_type and e_machine stand at the same place in both classes, in the file's byte order.
    auto half = [&](std::size_t at) {
        return kind.Data == ELFDATA2MSB ? static_cast<uint16_t>(header[at] << 8 | header[at + 1])
                                        : static_cast<uint16_t>(header[at] | header[at + 1] << 8);
    };
    kind.Type = half(offsetof(Elf64_Ehdr, e_type));
    kind.Machine = half(offsetof(Elf64_Ehdr, e_machine));
    return true;
}

// Runs `path --version` in a nested event loop and keeps the start of what it prints.
bool AskVersion(const std::string& path, int answerMs, std::string& answer)
{
    QProcess process;
    process.setProgram(QFile::decodeName(path.c_str()));
    process.setArguments({QStringLiteral("--version")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QByteArray output;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        QByteArray bytes = process.readAllStandardOutput();
        output += bytes.left(std::max<qsizetype>(0, kVersionAnswerBytes - output.size()));
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer::singleShot(answerMs, &loop, &QEventLoop::quit);
    process.start();
    loop.exec();
    bool answered = process.state() == QProcess::NotRunning &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
    answer = output.toStdString();
    return answered;
}

} // namespace

std::string UpgradeSetupName(bool secondary)
{
    return secondary ? "SetupSecondary" : "ZibTamSetup";
}

std::uintmax_t UpgradeSizeLimit(std::uintmax_t ownSize)
{
    return ownSize > 0 ? ownSize * kUpgradeSizeFactor : kUpgradeSizeUnknownCap;
}

bool FetchUpgrade(const std::string& url, bool secondary, std::string& path, std::string& error,
                  std::uintmax_t maxBytes, int timeoutMs)
{
    path.clear();
    std::string base = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    std::string folder = base + "/" + kUpgradeFolderPrefix + "XXXXXX";
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

    // Redirects are followed here, one reply at a time, so that each one is checked and
    // every check below reads the headers of the reply that carried the file.
    const std::string tooLarge = "the server sent more than " + std::to_string(maxBytes) +
                                 " bytes, more than an upgrade of Zib Tam can be.";
    QNetworkAccessManager network;
    const QUrl first(QString::fromLatin1(url.c_str()));
    QUrl address = first;
    std::unique_ptr<QNetworkReply> reply;
    std::uintmax_t received = 0, total = 0;
    bool writeFailed = false, oversize = false;
    for (int redirects = 0;; ++redirects) {
        QNetworkRequest request(address);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(timeoutMs);
        reply.reset(network.get(request));
        reply->setReadBufferSize(kReplyBufferBytes);
        received = 0;
        QEventLoop loop;
        // Everything read counts against the cap, a redirect's body too.
        auto take = [&] {
            QByteArray bytes = reply->readAll();
            total += static_cast<std::uintmax_t>(bytes.size());
            if (total > maxBytes) {
                oversize = true;
                reply->abort();
                return;
            }
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
                return;
            received += static_cast<std::uintmax_t>(bytes.size());
            if (!out.write(bytes.constData(), bytes.size()))
                writeFailed = true;
        };
        QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, [&] {
            QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toULongLong() > maxBytes) {
                oversize = true;
                reply->abort();
            }
        });
        QObject::connect(reply.get(), &QNetworkReply::readyRead, take);
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        if (oversize)
            return giveUp(tooLarge);
        take();
        if (oversize)
            return giveUp(tooLarge);
        QVariant location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
        if (!location.isValid() || redirects == 5)
            break;
        QUrl next = address.resolved(location.toUrl());
        if (!SameServer(next, first))
            return giveUp("the server sent the download on to " + next.toString().toStdString() +
                          "; Zib Tam takes its upgrade only from the server it is logged on to.");
        address = next;
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
    if (received == 0 || (length.isValid() && length.toULongLong() != received))
        return giveUp("the file arrived incomplete (" + std::to_string(received) + " of " +
                      (length.isValid() ? std::to_string(length.toLongLong()) : "?") + " bytes).");
    if (writeFailed || out.fail())
        return giveUp("the file " + part + " could not be written.");

    std::error_code failure;
    fs::permissions(part, fs::perms::owner_all, failure);
    if (!failure)
        fs::rename(part, target, failure);
    if (failure)
        return giveUp("the file " + target + " could not be made executable.");
    path = target;
    return true;
}

bool CheckUpgradeProgram(const std::string& path, int ownVersion, std::string& error, int answerMs)
{
    ElfKind own, fetched;
    if (!ReadElfKind("/proc/self/exe", own) || !ReadElfKind(path, fetched) ||
        fetched.Class != own.Class || fetched.Data != own.Data || fetched.Machine != own.Machine ||
        (fetched.Type != ET_EXEC && fetched.Type != ET_DYN)) {
        error = "the file is not a program for this computer.";
        return false;
    }
    std::string answer;
    bool answered = AskVersion(path, answerMs, answer);
    int version = VersionFromAnswer(answer);
    if (!answered || version < 0) {
        error = "the program does not say that it is a version of Zib Tam (it was asked with "
                "--version).";
        return false;
    }
    if (version <= ownVersion) {
        error = "the program is version " + std::to_string(version) +
                ", which is not newer than this copy's version " + std::to_string(ownVersion) + ".";
        return false;
    }
    return true;
}

bool RunUpgrade(const std::string& url, IPrompt& prompt, bool secondary,
                const std::string& executable, bool (*start)(const std::string& path),
                int ownVersion)
{
    const std::string caption = secondary ? "Zib Tam (Secondary)" : "Zib Tam";
    if (IsPackageInstall(executable)) {
        prompt.MessageBox(FormatWithText(kUpgradePackageText, url), caption, PromptButtons::Ok,
                          PromptIcon::Information);
        return false;
    }
    const std::string host = HostOf(url);
    if (prompt.MessageBox(FormatWithText(FormatWithText(kUpgradeConfirmText, host), url), caption,
                          PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes)
        return false;
    std::error_code unknown;
    std::uintmax_t ownSize = fs::file_size("/proc/self/exe", unknown);
    std::string path, error;
    if (!FetchUpgrade(url, secondary, path, error, UpgradeSizeLimit(unknown ? 0 : ownSize))) {
        prompt.MessageBox(FormatWithText(kUpgradeFailedText, url) + "\n\n" + error, caption,
                          PromptButtons::Ok, PromptIcon::Warning);
        return false;
    }
    if (!CheckUpgradeProgram(path, ownVersion, error)) {
        RemoveFetched(path);
        prompt.MessageBox(FormatWithText(kUpgradeRefusedText, host) + "\n\n" + error, caption,
                          PromptButtons::Ok, PromptIcon::Warning);
        return false;
    }
    if (!(start ? start : StartDetached)(path)) {
        prompt.MessageBox(FormatWithText(kUpgradeStartFailedText, path), caption, PromptButtons::Ok,
                          PromptIcon::Warning);
        RemoveFetched(path);
        return false;
    }
    return true;
}
