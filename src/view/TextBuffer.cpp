#include "view/TextBuffer.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

CTextBuffer::CTextBuffer() : m_data(new char[kInitialCapacity + 1]), m_capacity(kInitialCapacity)
{
    m_data[0] = 0;
}

void CTextBuffer::SetLength(size_t length)
{
    m_length = length;
    m_data[m_length] = 0;
}

void CTextBuffer::Grow(size_t extra)
{
    const size_t limit = std::numeric_limits<size_t>::max() / 2 - 1;
    if (extra > limit - m_length)
        throw std::bad_alloc();
    const size_t needed = m_length + extra;
    if (needed <= m_capacity)
        return;
    const size_t capacity = m_capacity + std::max(needed - m_capacity, m_capacity);
    std::unique_ptr<char[]> data(new char[capacity + 1]);
    std::memcpy(data.get(), m_data.get(), m_length + 1);
    m_data.swap(data);
    m_capacity = capacity;
}

bool CTextBuffer::Owns(const char* data) const
{
    const char* begin = m_data.get();
    std::less<const char*> less;
    return !less(data, begin) && less(data, begin + m_capacity + 1);
}

void CTextBuffer::Append(const char* data, size_t length)
{
    if (length == 0)
        return;
    if (Owns(data) && m_length + length > m_capacity) {
        // Appending a part of ourselves: copy it before the storage moves.
        std::string copy(data, length);
        Append(copy.data(), copy.size());
        return;
    }
    Grow(length);
    std::memcpy(m_data.get() + m_length, data, length);
    SetLength(m_length + length);
}

void CTextBuffer::Append(char c)
{
    Grow(1);
    m_data[m_length] = c;
    SetLength(m_length + 1);
}

void CTextBuffer::AppendInt(long long value)
{
    char digits[24];
    size_t count = 0;
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits[count++] = '-';
    std::reverse(digits, digits + count);
    Append(digits, count);
}

void CTextBuffer::Insert(size_t position, std::string_view text)
{
    if (text.empty())
        return;
    position = std::min(position, m_length);
    if (Owns(text.data())) {
        std::string copy(text);
        Insert(position, copy);
        return;
    }
    Grow(text.size());
    char* data = m_data.get();
    std::memmove(data + position + text.size(), data + position, m_length - position);
    std::memcpy(data + position, text.data(), text.size());
    SetLength(m_length + text.size());
}

void CTextBuffer::Delete(size_t position, size_t count)
{
    if (position >= m_length)
        return;
    count = std::min(count, m_length - position);
    char* data = m_data.get();
    std::memmove(data + position, data + position + count, m_length - position - count);
    SetLength(m_length - count);
}
