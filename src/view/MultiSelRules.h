#pragma once
// The recipient picker's rules without a widget: the sentence its face shows, the height of
// its drop-down list and which side it opens on, type-ahead, and the mouse wheel.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// "A", "A and B", "A, B, and C"; nothing selected gives "".
std::string MultiSelText(const std::vector<std::string>& selected);

// 220 pixels cut to whole entries, or all entries when fewer, plus 2 for the border; an
// empty list is 222.
int DropListHeight(int entryCount, int entryHeight);
// The list opens below the face unless its bottom would pass the screen's bottom.
bool DropListOpensAbove(int faceBottom, int listHeight, int screenBottom);

// Letters typed on the face: within 500 ms they make a search text, else each restarts it;
// one letter repeated steps through the entries that begin with it.
class CTypeAhead
{
public:
    // The entry to select for `letter` typed at `tick` (milliseconds), searching cyclically
    // from the caret entry (after it when it is selected), or -1.
    int Type(char letter, uint32_t tick, int caret, bool caretSelected,
             const std::vector<std::string>& entries);
    // Space toggles an entry unless it continues a search of several letters.
    bool SpaceToggles(uint32_t tick) const;
    const std::string& Search() const { return m_search; }

private:
    std::string m_search;
    bool m_multi = false;
    uint32_t m_lastTick = 0;
};

// The wheel over the face: the entry that becomes the only selected one, or -1. `forward`
// is the wheel turned toward the user.
int WheelTarget(int caret, bool caretSelected, bool forward, int entryCount);
