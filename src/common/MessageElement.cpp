#include "common/MessageElement.h"

#include "xml/XmlReader.h"

namespace {

std::string Escaped(std::string text)
{
    EscapeXml(text);
    return text;
}

void AppendField(std::string& out, const char* tag, bool present, int value)
{
    out += "         <";
    out += tag;
    out += '>';
    if (present)
        out += std::to_string(value);
    out += "</";
    out += tag;
    out += ">\r\n";
}

} // namespace

// Each value goes into its own place once. (Replacing placeholder names over the whole
// text built so far would rewrite a sender or id that happens to contain one.)
std::string FormatMessageElement(const ChatMessage& message)
{
    std::string out;
    out.reserve(320 + message.Text.size() + message.Text.size() / 4);
    out += "   <message>\r\n      <id>";
    out += Escaped(message.Id);
    out += "</id>\r\n      <from>";
    out += Escaped(message.Sender);
    out += "</from>\r\n      <to>";
    if (message.AllUsers) {
        out += "all users";
    } else {
        for (const std::string& name : message.Recipients) {
            out += "<user>";
            out += Escaped(name);
            out += "</user>";
        }
    }
    out += "</to>\r\n      <time>\r\n";
    const MessageTime& time = message.Time;
    AppendField(out, "month", time.HasMonth, time.Month);
    AppendField(out, "day", time.HasDay, time.Day);
    AppendField(out, "year", time.HasYear, time.Year);
    AppendField(out, "hour", time.HasHour, time.Hour);
    AppendField(out, "minute", time.HasMinute, time.Minute);
    AppendField(out, "second", time.HasSecond, time.Second);
    out += "      </time>\r\n      <text>";
    for (char c : Escaped(message.Text)) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    out += "</text>\r\n   </message>\r\n";
    return out;
}

void ReadMessageChild(const XmlElement* stack, int depth, int messageDepth, ChatMessage& message)
{
    const XmlElement& element = stack[depth - 1];
    if (depth == messageDepth + 1) {
        if (element.Name.Is("id"))
            message.Id = element.Value.ToString();
        else if (element.Name.Is("from"))
            message.Sender = element.Value.ToString();
        else if (element.Name.Is("text"))
            message.Text = element.Value.ToString();
        else if (element.Name.Is("to") && element.Value.Is("all users"))
            message.AllUsers = true;
        return;
    }
    if (depth != messageDepth + 2)
        return;
    const XmlText& parent = stack[depth - 2].Name;
    if (parent.Is("to")) {
        if (element.Name.Is("user") && element.Value.Length() > 0)
            message.Recipients.push_back(element.Value.ToString());
        return;
    }
    if (!parent.Is("time"))
        return;
    struct Field
    {
        std::string_view Name;
        int MessageTime::*Value;
        bool MessageTime::*Present;
    };
    static constexpr Field kFields[] = {
        {"month", &MessageTime::Month, &MessageTime::HasMonth},
        {"day", &MessageTime::Day, &MessageTime::HasDay},
        {"year", &MessageTime::Year, &MessageTime::HasYear},
        {"hour", &MessageTime::Hour, &MessageTime::HasHour},
        {"minute", &MessageTime::Minute, &MessageTime::HasMinute},
        {"second", &MessageTime::Second, &MessageTime::HasSecond},
    };
    for (const Field& field : kFields) {
        if (element.Name.Is(field.Name)) {
            int value = 0;
            if (ParseXmlInt(element.Value, value)) {
                message.Time.*field.Value = value;
                message.Time.*field.Present = true;
            }
            return;
        }
    }
}
