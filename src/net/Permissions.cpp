#include "net/Permissions.h"

#include "common/LastErrorText.h"
#include "common/NameCase.h"
#include "platform/Cp1252.h"
#include "xml/XmlReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>

namespace {

std::string_view TrimXmlSpace(std::string_view text)
{
    while (!text.empty() && IsXmlWhitespace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsXmlWhitespace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string TagMismatch(std::string_view found, std::string_view expected)
{
    return "Encountered <" + std::string(found) + "> tag.  Expected <" + std::string(expected) +
           "> tag.";
}

// Takes the "encoding" of the XML declaration, if it has one.
class CDeclaredEncoding : public IXmlHandler
{
public:
    void OnStartElement(const XmlElement* stack, int depth) override
    {
        if (depth == 1)
            if (const XmlText* encoding = stack[0].FindAttribute("encoding"))
                Name = encoding->ToString();
    }
    void OnEndElement(const XmlElement*, int) override {}
    std::string Name;
};

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names)
{
    return std::any_of(names.begin(), names.end(),
                       [&](const char* candidate) { return NamesEqualNoCase(name, candidate); });
}

// Names on the wire are Windows-1252, so the document is turned into Windows-1252 before
// its names are read. The encoding is the declared one; a document that declares none is
// UTF-8 as XML has it, unless it is not valid UTF-8: then it is an older file written
// in Windows-1252, read as it always was.
bool ToCp1252(std::string_view text, std::string& document, std::string& error)
{
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    bool marked = text.substr(0, kByteOrderMark.size()) == kByteOrderMark;
    if (marked)
        text.remove_prefix(kByteOrderMark.size());
    CDeclaredEncoding declared;
    size_t declarationEnd = text.find("?>");
    if (declarationEnd != std::string_view::npos) {
        CXmlReader reader(false, 2);
        std::string ignored;
        reader.Parse(text.substr(0, declarationEnd + 2), declared, ignored);
    }
    // ISO-8859-1 is read as Windows-1252, its superset in everything printable, as
    // browsers do: files so labelled are nearly always Windows-1252.
    if (!marked && IsOneOf(declared.Name, {"windows-1252", "cp1252", "iso-8859-1", "iso8859-1",
                                           "latin1", "us-ascii", "ascii"})) {
        document.assign(text);
        return true;
    }
    // A byte order mark says UTF-8 whatever the declaration says.
    if (!marked && !declared.Name.empty() && !IsOneOf(declared.Name, {"utf-8", "utf8"})) {
        error = "The permissions file is in the encoding \"" + declared.Name +
                "\", which cannot be read. Save it as UTF-8.";
        return false;
    }
    char32_t unmapped = 0;
    switch (Utf8ToCp1252Exact(text, document, unmapped)) {
    case Utf8Conversion::Ok:
        return true;
    case Utf8Conversion::Malformed:
        if (!marked && declared.Name.empty()) {
            document.assign(text);
            return true;
        }
        error = "The permissions file is not valid UTF-8.";
        return false;
    case Utf8Conversion::Unmapped:
        break;
    }
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(unmapped));
    error = std::string("The permissions file holds a character that user names cannot have (") +
            code + ").";
    return false;
}

} // namespace

// Builds the table from the reader's events. Depth 1 is the declaration, 2 the root,
// 3 the default and user entries, 4 their rules. The first fault ends all further work.
class CPermissionsHandler : public IXmlHandler
{
public:
    explicit CPermissionsHandler(CPermissions& table) : m_table(table) {}

    const std::string& Error() const { return m_error; }

    void OnStartElement(const XmlElement* stack, int depth) override
    {
        if (!m_error.empty())
            return;
        const XmlElement& element = stack[depth - 1];
        std::string_view name = element.Name.Str();
        switch (depth) {
        case 1:
            return;
        case 2:
            if (name != "permissions")
                m_error = TagMismatch(name, "permissions");
            return;
        case 3:
            StartEntry(element, name);
            return;
        case 4:
            AddRule(element, name);
            return;
        default:
            m_error = "Encountered unexpected <" + std::string(name) + "> tag.";
            return;
        }
    }

    void OnEndElement(const XmlElement*, int depth) override
    {
        if (!m_error.empty())
            return;
        if (depth == 3) {
            if (!m_defaultDone)
                m_defaultDone = true;
            else
                m_table.m_users.emplace_back(std::move(m_userName), std::move(m_entry));
            m_userName.clear();
            m_entry = PermissionEntry();
            m_inDefault = false;
        } else if (depth == 2 && !m_defaultDone) {
            m_error = "Missing \"<default>\" attribute.";
        }
    }

private:
    void StartEntry(const XmlElement& element, std::string_view name)
    {
        std::string_view expected = m_defaultDone ? "user" : "default";
        if (name != expected) {
            m_error = TagMismatch(name, expected);
            return;
        }
        if (!m_defaultDone) {
            m_inDefault = true;
            return;
        }
        const XmlText* attribute = element.FindAttribute("name");
        if (!attribute) {
            m_error = "Missing \"name\" attribute on <user> tag.";
            return;
        }
        std::string_view userName = TrimXmlSpace(attribute->Str());
        if (userName.empty()) {
            m_error = "Invalid \"name\" attribute on <user> tag.";
            return;
        }
        for (const auto& [known, entry] : m_table.m_users) {
            if (NamesEqualNoCase(known, std::string(userName))) {
                m_error =
                    "Encountered multiple entries for user \"" + std::string(userName) + "\".";
                return;
            }
        }
        m_userName = std::string(userName);
        m_entry = PermissionEntry();
    }

    void AddRule(const XmlElement& element, std::string_view name)
    {
        PermissionRule rule;
        if (name == "allow") {
            rule.Kind = PermissionKind::Allow;
        } else if (name == "deny") {
            rule.Kind = PermissionKind::Deny;
        } else {
            m_error =
                "Encountered <" + std::string(name) + "> tag.  Expected <allow> or <deny> tag.";
            return;
        }
        std::string_view text = TrimXmlSpace(element.Value.Str());
        if (text.empty()) {
            m_error = "Encountered <" + std::string(name) + "> with no contents.";
            return;
        }
        if (text != "all users")
            rule.Target = std::string(text);
        (m_inDefault ? m_table.m_default : m_entry).Rules.push_back(std::move(rule));
    }

    CPermissions& m_table;
    std::string m_error;
    bool m_defaultDone = false;
    bool m_inDefault = false;
    std::string m_userName;
    PermissionEntry m_entry;
};

void CPermissions::Clear()
{
    m_default = PermissionEntry();
    m_users.clear();
}

bool CPermissions::LoadPermissions(const std::string& path, std::string& error)
{
    Clear();
    error.clear();
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = SystemErrorText(errno ? errno : ENOENT);
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = SystemErrorText(errno ? errno : EIO);
        return false;
    }
    return LoadPermissionsText(text, error);
}

bool CPermissions::LoadPermissionsText(std::string_view text, std::string& error)
{
    Clear();
    error.clear();
    std::string document;
    if (!ToCp1252(text, document, error))
        return false;
    CPermissionsHandler handler(*this);
    CXmlReader reader;
    std::string xmlError;
    bool parsed = reader.Parse(document, handler, xmlError);
    if (!handler.Error().empty())
        error = handler.Error();
    else if (!parsed)
        error = xmlError;
    else
        return true;
    Clear();
    return false;
}

const PermissionEntry& CPermissions::EntryFor(const std::string& userName) const
{
    for (const auto& [name, entry] : m_users) {
        if (NamesEqualNoCase(name, userName))
            return entry;
    }
    return m_default;
}

PermissionDecision CPermissions::Decide(const PermissionEntry& entry, const std::string& name)
{
    for (auto it = entry.Rules.rbegin(); it != entry.Rules.rend(); ++it) {
        if (it->Target.empty() || NamesEqualNoCase(it->Target, name))
            return it->Kind == PermissionKind::Allow ? PermissionDecision::Allow
                                                     : PermissionDecision::Deny;
    }
    return PermissionDecision::None;
}
