#include "view/MultiSelRules.h"

#include <algorithm>
#include <cctype>

std::string MultiSelText(const std::vector<std::string>& selected)
{
    std::string text;
    for (size_t i = 0; i < selected.size(); ++i) {
        if (i > 0) {
            if (selected.size() == 2)
                text += " and ";
            else if (i + 1 == selected.size())
                text += ", and ";
            else
                text += ", ";
        }
        text += selected[i];
    }
    return text;
}

int DropListHeight(int entryCount, int entryHeight)
{
    if (entryCount <= 0 || entryHeight <= 0)
        return 222;
    const int whole = 220 / entryHeight * entryHeight;
    return std::min(whole, entryCount * entryHeight) + 2;
}

bool DropListOpensAbove(int faceBottom, int listHeight, int screenBottom)
{
    return faceBottom + listHeight > screenBottom;
}

namespace {

char Fold(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

int CTypeAhead::Type(char letter, uint32_t tick, int caret, bool caretSelected,
                     const std::vector<std::string>& entries)
{
    if (!m_search.empty() && tick - m_lastTick < 501) {
        if (m_multi || Fold(letter) != Fold(m_search[0])) {
            m_search += letter;
            m_multi = true;
        }
    } else {
        m_search.assign(1, letter);
        m_multi = false;
    }
    m_lastTick = tick;
    const int count = static_cast<int>(entries.size());
    if (count == 0)
        return -1;
    int start = std::clamp(caret, 0, count - 1);
    if (caret >= 0 && caretSelected)
        start = (start + 1) % count;
    const size_t compared = m_multi ? m_search.size() : 1;
    for (int k = 0; k < count; ++k) {
        const std::string& entry = entries[static_cast<size_t>((start + k) % count)];
        if (entry.size() < compared)
            continue;
        bool match = true;
        for (size_t i = 0; i < compared && match; ++i)
            match = Fold(entry[i]) == Fold(m_search[i]);
        if (match)
            return (start + k) % count;
    }
    return -1;
}

bool CTypeAhead::SpaceToggles(uint32_t tick) const
{
    return !m_multi || tick - m_lastTick > 500;
}

int WheelTarget(int caret, bool caretSelected, bool forward, int entryCount)
{
    if (entryCount <= 0 || caret < 0)
        return -1;
    if (!caretSelected)
        return std::min(caret, entryCount - 1);
    return std::clamp(caret + (forward ? 1 : -1), 0, entryCount - 1);
}
