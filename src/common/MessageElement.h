#pragma once
// The <message> element: the text form of a ChatMessage shared by the message log and the
// client/server protocol, and the rules for reading it back.
#include "common/ChatMessage.h"
#include "xml/XmlElement.h"

#include <string>
#include <string_view>

// The first two lines of every log file; the root element's namespace is never read.
inline constexpr std::string_view kLogNamespace = "http://www.fernquillsoft.com/ZibTam/Log";
inline constexpr std::string_view kLogHeader =
    "<?xml version=\"1.0\"?>\r\n<log xmlns=\"http://www.fernquillsoft.com/ZibTam/Log\">\r\n";
inline constexpr std::string_view kLogTrailer = "</log>";

// The 14-line element, every line ended by CR LF, values escaped.
std::string FormatMessageElement(const ChatMessage& message);

// For a reader handler that has seen the start of a <message> element at depth
// `messageDepth` and made `message` (a fresh, empty ChatMessage) current for it: call this
// from OnStartElement for every later element while that message is current. It fills the
// message from the children (depth messageDepth + 1) and from "user" under "to" and the
// time fields under "time" (depth messageDepth + 2); everything else is ignored.
void ReadMessageChild(const XmlElement* stack, int depth, int messageDepth, ChatMessage& message);

static_assert(kLogHeader.find(kLogNamespace) != std::string_view::npos);
