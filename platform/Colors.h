#pragma once
// Platform colour values: red in the low byte, green in the next, blue in the third.
// Values with the high byte 0x80 name a system colour, resolved through a table the window
// fills from the desktop theme.
#include <cstdint>

using TColor = std::uint32_t;

constexpr TColor RGBColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
constexpr std::uint8_t ColorRed(TColor c) {
    return std::uint8_t(c & 0xFF);
}
constexpr std::uint8_t ColorGreen(TColor c) {
    return std::uint8_t((c >> 8) & 0xFF);
}
constexpr std::uint8_t ColorBlue(TColor c) {
    return std::uint8_t((c >> 16) & 0xFF);
}

enum TSystemColorIndex : std::uint32_t {
    COLOR_WINDOW = 5,
    COLOR_WINDOWTEXT = 8,
    COLOR_BTNFACE = 15,
    COLOR_BTNTEXT = 18,
    COLOR_SYSTEM_COUNT = 32
};
constexpr TColor clSystemColor = 0x80000000u;
constexpr TColor clBtnFace = clSystemColor | COLOR_BTNFACE;
constexpr TColor clWindow = clSystemColor | COLOR_WINDOW;
constexpr TColor clBlack = 0x000000u;
constexpr TColor clWhite = 0xFFFFFFu;

constexpr bool IsSystemColor(TColor c) {
    return (c & 0xFF000000u) == clSystemColor;
}

// Resolves a system colour to its current value; other colours come back unchanged (high byte cleared).
TColor ColorToRGB(TColor color);
// The window sets the theme's colours here; until then a neutral light grey button face is used.
void SetSystemColor(TSystemColorIndex index, TColor value);
