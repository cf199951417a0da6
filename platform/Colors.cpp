#include "platform/Colors.h"

#include <array>
#include <atomic>

namespace {
struct SystemColorTable {
    std::array<std::atomic<TColor>, COLOR_SYSTEM_COUNT> Colors;
    SystemColorTable() {
        for (auto& c : Colors) c = RGBColor(0xF0, 0xF0, 0xF0);
        Colors[COLOR_WINDOW] = clWhite;
        Colors[COLOR_WINDOWTEXT] = clBlack;
        Colors[COLOR_BTNTEXT] = clBlack;
    }
};

std::array<std::atomic<TColor>, COLOR_SYSTEM_COUNT>& Table() {
    static SystemColorTable table;
    return table.Colors;
}
} // namespace

TColor ColorToRGB(TColor color) {
    if (IsSystemColor(color)) {
        const std::uint32_t index = color & 0xFFu;
        return index < COLOR_SYSTEM_COUNT ? Table()[index].load() : clBlack;
    }
    return color & 0x00FFFFFFu;
}

void SetSystemColor(TSystemColorIndex index, TColor value) {
    if (index < COLOR_SYSTEM_COUNT) Table()[index] = value & 0x00FFFFFFu;
}
