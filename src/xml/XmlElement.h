#pragma once
// One element as the reader reports it: its name, its value (absent when it has children
// or no content) and its attributes in document order.
#include "xml/XmlText.h"

#include <string_view>
#include <vector>

struct XmlAttribute
{
    XmlText Name;
    XmlText Value;
};

struct XmlElement
{
    XmlText Name;
    XmlText Value;
    std::vector<XmlAttribute> Attributes;

    // The value of the first attribute of exactly this name, or null.
    const XmlText* FindAttribute(std::string_view name) const
    {
        for (const XmlAttribute& attribute : Attributes) {
            if (attribute.Name.Is(name))
                return &attribute.Value;
        }
        return nullptr;
    }
};
