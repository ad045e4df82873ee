#include "view/FontSpec.h"

FontSpec FontSpec::FromRecord(const FontRecord& record)
{
    FontSpec font;
    font.Valid = true;
    font.FaceName = record.FaceName;
    font.Size = record.Height;
    font.Bold = (record.Effects & FontRecord::kBold) != 0;
    font.Italic = (record.Effects & FontRecord::kItalic) != 0;
    font.Underline = (record.Effects & FontRecord::kUnderline) != 0;
    font.StrikeOut = (record.Effects & FontRecord::kStrikeOut) != 0;
    font.Color = record.Color;
    return font;
}
