#pragma once
// A growable byte buffer, always followed by a zero byte, that message documents are
// written into. It grows by at least its own size, so building a document is linear.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class CTextBuffer
{
public:
    static constexpr size_t kInitialCapacity = 10000;

    CTextBuffer();
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    void Append(const char* data, size_t length);
    void Append(std::string_view text) { Append(text.data(), text.size()); }
    void Append(char c);
    void AppendInt(long long value);
    // A position past the end inserts at the end.
    void Insert(size_t position, std::string_view text);
    // The part of [position, position + count) that lies inside the buffer is removed.
    void Delete(size_t position, size_t count);
    void Clear() { SetLength(0); }

    const char* Data() const { return m_data.get(); }
    size_t Length() const { return m_length; }
    size_t Capacity() const { return m_capacity; }
    std::string_view View() const { return {m_data.get(), m_length}; }
    std::string ToString() const { return std::string(View()); }

private:
    void SetLength(size_t length);
    // Room for `extra` more bytes.
    void Grow(size_t extra);
    // Whether `data` points into our storage (it would move when the buffer grows).
    bool Owns(const char* data) const;

    std::unique_ptr<char[]> m_data;
    size_t m_capacity = 0;
    size_t m_length = 0;
};
