#include "codecs/metafile/MetafileDib.h"
#include "codecs/metafile/MetafilePlayers.h"

#include <algorithm>
#include <cmath>

namespace metafile {

TGdiObject StockObject(std::uint32_t index) {
    auto brush = [](std::uint32_t style, std::uint8_t v) {
        auto b = std::make_shared<TBrush>();
        b->Style = style;
        b->Color = {v, v, v};
        return TGdiObject(std::shared_ptr<const TBrush>(std::move(b)));
    };
    auto pen = [](std::uint32_t style, std::uint8_t v) {
        auto p = std::make_shared<TPen>();
        p->Style = style;
        p->Color = {v, v, v};
        return TGdiObject(std::shared_ptr<const TPen>(std::move(p)));
    };
    auto font = [](bool fixed) {
        auto f = std::make_shared<TFont>();
        f->Face = fixed ? "monospace" : "sans-serif";
        f->PitchAndFamily = fixed ? 0x31 : 0x22;
        return TGdiObject(std::shared_ptr<const TFont>(std::move(f)));
    };
    switch (index) {
    case 0:
        return brush(BS_SOLID, 255);
    case 1:
        return brush(BS_SOLID, 192);
    case 2:
        return brush(BS_SOLID, 128);
    case 3:
        return brush(BS_SOLID, 64);
    case 4:
        return brush(BS_SOLID, 0);
    case 5:
        return brush(BS_NULL, 0);
    case 6:
        return pen(PS_SOLID, 255);
    case 7:
        return pen(PS_SOLID, 0);
    case 8:
        return pen(PS_NULL, 0);
    case 10:
    case 11:
    case 16:
        return font(true);
    case 12:
    case 13:
    case 14:
    case 17:
        return font(false);
    case 15: {
        // The twenty static colours every palette device reserves.
        static const TRgb kStatic[20] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},
                                         {0, 0, 128},     {128, 0, 128},   {0, 128, 128},   {192, 192, 192},
                                         {192, 220, 192}, {166, 202, 240}, {255, 251, 240}, {160, 160, 164},
                                         {128, 128, 128}, {255, 0, 0},     {0, 255, 0},     {255, 255, 0},
                                         {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
        auto p = std::make_shared<TPalette>();
        p->Entries.assign(std::begin(kStatic), std::end(kStatic));
        return TGdiObject(std::shared_ptr<const TPalette>(std::move(p)));
    }
    case 18:
        return brush(BS_SOLID, 255); // DC_BRUSH: its colour is never recorded
    case 19:
        return pen(PS_SOLID, 0); // DC_PEN
    default:
        return {};
    }
}

int DecodeLimit(double devicePixels) {
    if (!std::isfinite(devicePixels)) return 2;
    return int(std::clamp(std::ceil(std::fabs(devicePixels) * 2) + 2, 2.0, double(kMaxDibSide)));
}

} // namespace metafile
