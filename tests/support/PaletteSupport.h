#pragma once
// A dark palette as dark desktop themes give it, and the contrast of text in a picture of
// a view (WCAG's ratio: 4.5 is the least for body text).
#include <QColor>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <algorithm>
#include <cmath>

inline QPalette DarkPalette()
{
    QPalette dark;
    const QColor window(0x35, 0x35, 0x35), base(0x3D, 0x3D, 0x3D), text(0xEE, 0xEE, 0xEE);
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button})
        dark.setColor(role, window);
    for (QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
        dark.setColor(role, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Highlight, QColor(0x2A, 0x82, 0xDA));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x6E, 0xA0, 0xFF));
    return dark;
}

inline double RelativeLuminance(const QColor& color)
{
    auto channel = [](int value) {
        double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.red()) + 0.7152 * channel(color.green()) +
           0.0722 * channel(color.blue());
}

inline double ContrastRatio(const QColor& a, const QColor& b)
{
    double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The most frequent colour of the picture is its background; its text is the colour that
// stands out from it the most.
inline QColor BackgroundOf(const QImage& image)
{
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y) & 0xFFFFFF];
    QRgb most = 0;
    int best = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > best) {
            best = it.value();
            most = it.key();
        }
    return QColor(most);
}

inline double TextContrast(const QImage& image)
{
    const QColor background = BackgroundOf(image);
    double best = 1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            best = std::max(best, ContrastRatio(background, QColor(image.pixel(x, y))));
    return best;
}
