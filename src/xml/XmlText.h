#pragma once
// A piece of text handed out by the XML reader: a view into the document being read, or
// an owned copy when entities had to be decoded. An absent text (length -1) differs from
// a present empty one.
#include <string>
#include <string_view>

class XmlText
{
public:
    XmlText() = default;
    explicit XmlText(std::string owned)
        : m_owned(std::move(owned)), m_length(static_cast<int>(m_owned.size())), m_isOwned(true)
    {}

    static XmlText View(const char* data, int length)
    {
        XmlText text;
        text.m_view = data;
        text.m_length = length;
        return text;
    }

    bool IsAbsent() const { return m_length < 0; }
    int Length() const { return m_length; }
    const char* Data() const { return m_isOwned ? m_owned.data() : m_view; }
    // The bytes; an absent text gives an empty view.
    std::string_view Str() const
    {
        return m_length < 0 ? std::string_view() : std::string_view(Data(), m_length);
    }
    std::string ToString() const { return std::string(Str()); }

    // Same length and same bytes; two absent texts are equal.
    bool operator==(const XmlText& other) const
    {
        return m_length == other.m_length && Str() == other.Str();
    }
    // A present text with exactly these bytes.
    bool Is(std::string_view bytes) const { return m_length >= 0 && Str() == bytes; }

    void Clear()
    {
        m_view = nullptr;
        m_length = -1;
        if (m_isOwned) {
            m_owned.clear();
            m_isOwned = false;
        }
    }

private:
    const char* m_view = nullptr;
    std::string m_owned;
    int m_length = -1;
    bool m_isOwned = false;
};
