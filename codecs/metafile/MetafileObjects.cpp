#include "codecs/metafile/MetafileDib.h"
#include "codecs/metafile/MetafilePlayers.h"
#include "codecs/metafile/MetafileRecords.h"

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
        f->PitchAndFamily = fixed ? FF_MODERN | FIXED_PITCH : FF_SWISS | VARIABLE_PITCH;
        return TGdiObject(std::shared_ptr<const TFont>(std::move(f)));
    };
    switch (TStockObject(index)) {
    case TStockObject::WhiteBrush:
        return brush(BS_SOLID, 255);
    case TStockObject::LtGrayBrush:
        return brush(BS_SOLID, 192);
    case TStockObject::GrayBrush:
        return brush(BS_SOLID, 128);
    case TStockObject::DkGrayBrush:
        return brush(BS_SOLID, 64);
    case TStockObject::BlackBrush:
        return brush(BS_SOLID, 0);
    case TStockObject::NullBrush:
        return brush(BS_NULL, 0);
    case TStockObject::WhitePen:
        return pen(PS_SOLID, 255);
    case TStockObject::BlackPen:
        return pen(PS_SOLID, 0);
    case TStockObject::NullPen:
        return pen(PS_NULL, 0);
    case TStockObject::OemFixedFont:
    case TStockObject::AnsiFixedFont:
    case TStockObject::SystemFixedFont:
        return font(true);
    case TStockObject::AnsiVarFont:
    case TStockObject::SystemFont:
    case TStockObject::DeviceDefaultFont:
    case TStockObject::DefaultGuiFont:
        return font(false);
    case TStockObject::DefaultPalette: {
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
    case TStockObject::DcBrush:
        return brush(BS_SOLID, 255); // its colour is never recorded
    case TStockObject::DcPen:
        return pen(PS_SOLID, 0);
    default:
        return {};
    }
}

int DecodeLimit(double devicePixels) {
    if (!std::isfinite(devicePixels)) return 2;
    return int(std::clamp(std::ceil(std::fabs(devicePixels) * 2) + 2, 2.0, double(kMaxDibSide)));
}

} // namespace metafile
