#include "net/UpgradeService.h"

#include "common/BuildDate.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

std::string UpgradeDownloadPath(int version)
{
    return "/upgrade/" + std::to_string(version) + "/setup.exe";
}

bool AnswerUpgradeRequest(const HttpRequest& request,
                          const std::function<std::shared_ptr<const std::string>()>& executable,
                          ProtocolDocument& answer, int version)
{
    std::string download = UpgradeDownloadPath(version);
    if (EqualsNoCase(request.Path, "/upgrade")) {
        answer = ProtocolDocument::MakeRedirect("http://" + request.Host + download);
        return true;
    }
    if (EqualsNoCase(request.Path, download)) {
        std::shared_ptr<const std::string> bytes = executable ? executable() : nullptr;
        if (!bytes)
            return false;
        answer = ProtocolDocument::MakeFile(std::move(bytes));
        return true;
    }
    answer = ProtocolDocument::MakeNotFound();
    return true;
}

bool UpgradeUrlFromServerHeader(const std::string& serverHeader, const std::string& host,
                                unsigned port, std::string& url, int ownVersion)
{
    auto slash = serverHeader.find('/');
    if (slash == std::string::npos)
        return false;
    // The number as the C library reads it: leading blanks and a sign allowed, digits up to
    // the first other character; no digits read as 0.
    long long version = 0;
    const char* p = serverHeader.c_str() + slash + 1;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    while (std::isdigit(static_cast<unsigned char>(*p)) && version < 1'000'000'000)
        version = version * 10 + (*p++ - '0');
    if (negative)
        version = -version;
    if (version <= ownVersion)
        return false;
    url = "http://" + host + ":" + std::to_string(port) + "/upgrade";
    return true;
}

std::string VersionAnswer(int version)
{
    return ProductToken(version) + " (" + ProgramBuildDate() + ")\n";
}

int VersionFromAnswer(std::string_view answer)
{
    const std::string token = ProductToken(0);
    const std::string_view name = std::string_view(token).substr(0, token.size() - 1);
    if (answer.substr(0, name.size()) != name)
        return -1;
    answer.remove_prefix(name.size());
    int version = 0;
    std::size_t digits = 0;
    for (; digits < answer.size() && std::isdigit(static_cast<unsigned char>(answer[digits]));
         ++digits) {
        if (digits == 9)
            return -1;
        version = version * 10 + (answer[digits] - '0');
    }
    bool ends = digits == answer.size() || answer[digits] == ' ' || answer[digits] == '\n' ||
                answer[digits] == '\r';
    return digits > 0 && ends ? version : -1;
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        return false;
    bytes = std::move(content).str();
    return true;
}
