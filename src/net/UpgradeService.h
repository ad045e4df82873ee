#pragma once
// The upgrade service: the server hands out its own executable over plain HTTP on the chat
// port, and a client that hears a newer version in the "Server" header offers the address.
#include "net/Frame.h"
#include "net/ProtocolDocument.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

// "/upgrade/740/setup.exe".
std::string UpgradeDownloadPath(int version = kProtocolVersion);

// The server's answer to a GET request: a redirect for "/upgrade", the executable for the
// download path, "not found" for anything else. False when nothing is to be sent (the
// executable cannot be read). `executable` gives the bytes of the running program, null
// when they cannot be read.
bool AnswerUpgradeRequest(const HttpRequest& request,
                          const std::function<std::shared_ptr<const std::string>()>& executable,
                          ProtocolDocument& answer, int version = kProtocolVersion);

// The address "http://host:port/upgrade" when the last "Server" header names a version
// above `ownVersion`; false otherwise.
bool UpgradeUrlFromServerHeader(const std::string& serverHeader, const std::string& host,
                                unsigned port, std::string& url, int ownVersion = kProtocolVersion);

// What "zibtam --version" prints: the product token ("Zib Tam Freeware/740") and the build
// date, on one line.
std::string VersionAnswer(int version = kProtocolVersion);
// The version that the first line of an answer to "--version" names; -1 when it names none.
int VersionFromAnswer(std::string_view answer);

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
