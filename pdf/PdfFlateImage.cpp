#include "pdf/PdfFlateImage.h"

#include "imaging/bitmap/IEBitmap.h"
#include "pdf/PdfFlateEncoder.h"
#include "platform/Stream.h"

#include <algorithm>
#include <array>

namespace {
constexpr int kMaxPaletteColours = 256;

// Colours (0xRRGGBB) to palette indexes, in a fixed open-addressed table: a page has at most 257
// distinct colours before the search gives up, so 1024 slots keep probes short.
class TColourIndex {
public:
    TColourIndex() { Slots.fill(kEmpty); }
    // The colour's index, adding it; -1 once more than kMaxPaletteColours colours were seen.
    int Lookup(std::uint32_t colour) {
        std::size_t i = (colour * 2654435761u) >> 22;
        for (;;) {
            if (Slots[i] == kEmpty) {
                if (Count >= kMaxPaletteColours) return -1;
                Slots[i] = colour;
                Indexes[i] = static_cast<std::uint16_t>(Count);
                Order.push_back(colour);
                return Count++;
            }
            if (Slots[i] == colour) return Indexes[i];
            i = (i + 1) & (kSlots - 1);
        }
    }
    const std::vector<std::uint32_t>& Colours() const { return Order; }

private:
    static constexpr std::size_t kSlots = 1024;
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu; // never a 24-bit colour
    std::array<std::uint32_t, kSlots> Slots{};
    std::array<std::uint16_t, kSlots> Indexes{};
    std::vector<std::uint32_t> Order;
    int Count = 0;
};

std::uint32_t ColourAt(const std::uint8_t* bgr) {
    return std::uint32_t(bgr[2]) << 16 | std::uint32_t(bgr[1]) << 8 | bgr[0];
}

TIEPDFObject* Name(const char* text) {
    return new TIEPDFNameObject(text);
}
TIEPDFObject* Number(double value) {
    return new TIEPDFNumericObject(value);
}

std::unique_ptr<TIEPDFStreamObject> StreamOf(TMemoryStream& data) {
    auto image = std::make_unique<TIEPDFStreamObject>(data.TakeBytes());
    image->Dictionary().Add("Filter", Name("FlateDecode"));
    return image;
}
} // namespace

TIEPDFDictionaryObject* PngPredictorParms(int colors, int columns) {
    auto* parms = new TIEPDFDictionaryObject;
    std::unique_ptr<TIEPDFObject> owner(parms);
    parms->Add("Predictor", Number(15));
    parms->Add("Colors", Number(colors));
    parms->Add("BitsPerComponent", Number(8));
    parms->Add("Columns", Number(columns));
    owner.release();
    return parms;
}

TFlateColourPlan PlanFlateColours(TIEBitmap& bitmap) {
    const int width = bitmap.Width(), height = bitmap.Height();
    bool gray = true, fits = true;
    TColourIndex index;
    for (int y = 0; y < height && (gray || fits); ++y) {
        const std::uint8_t* row = bitmap.RowPointer(y);
        if (!row) continue;
        for (int x = 0; x < width && (gray || fits); ++x) {
            const std::uint8_t* p = row + std::size_t(x) * 3;
            if (gray && (p[0] != p[1] || p[1] != p[2])) gray = false;
            if (fits && index.Lookup(ColourAt(p)) < 0) fits = false;
        }
    }
    TFlateColourPlan plan;
    if (gray) {
        plan.Kind = TFlateColours::Gray;
    } else if (fits) {
        plan.Kind = TFlateColours::Indexed;
        for (const std::uint32_t c : index.Colours()) {
            plan.Palette.push_back(static_cast<std::uint8_t>(c >> 16));
            plan.Palette.push_back(static_cast<std::uint8_t>(c >> 8));
            plan.Palette.push_back(static_cast<std::uint8_t>(c));
        }
    }
    return plan;
}

std::unique_ptr<TIEPDFStreamObject> FlateColourImage(TIEBitmap& bitmap, TFlateColours* kind, bool& aborting) {
    const int width = bitmap.Width(), height = bitmap.Height();
    const auto pixels = static_cast<std::size_t>(width);
    const TFlateColourPlan plan = PlanFlateColours(bitmap);
    if (kind) *kind = plan.Kind;
    const std::size_t channels = plan.Kind == TFlateColours::Rgb ? 3 : 1;
    TMemoryStream coded;
    TFlateRowEncoder encoder(coded, pixels * channels, channels, plan.Kind != TFlateColours::Indexed);
    std::vector<std::uint8_t> out(pixels * channels);
    TColourIndex index;
    // The palette's order is the order of first appearance, so a second walk gives the same indexes.
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bitmap.RowPointer(y);
        if (!row) { // cannot happen inside the bitmap; keeps the row count right regardless
            std::fill(out.begin(), out.end(), std::uint8_t(0));
            encoder.AddRow(out.data(), aborting);
            continue;
        }
        for (std::size_t x = 0; x < pixels; ++x) {
            const std::uint8_t* p = row + x * 3;
            switch (plan.Kind) {
            case TFlateColours::Gray:
                out[x] = p[0];
                break;
            case TFlateColours::Indexed:
                out[x] = static_cast<std::uint8_t>(index.Lookup(ColourAt(p)));
                break;
            case TFlateColours::Rgb:
                out[3 * x] = p[2];
                out[3 * x + 1] = p[1];
                out[3 * x + 2] = p[0];
                break;
            }
        }
        encoder.AddRow(out.data(), aborting);
    }
    encoder.Finish(aborting);

    std::unique_ptr<TIEPDFStreamObject> image = StreamOf(coded);
    TIEPDFDictionaryObject& dict = image->Dictionary();
    dict.Add("DecodeParms", PngPredictorParms(int(channels), width));
    if (plan.Kind == TFlateColours::Indexed) {
        auto* space = new TIEPDFArrayObject;
        dict.Add("ColorSpace", space);
        space->Add(Name("Indexed"));
        space->Add(Name("DeviceRGB"));
        space->Add(Number(double(plan.Palette.size() / 3 - 1)));
        space->Add(new TIEPDFStringObject(std::string(plan.Palette.begin(), plan.Palette.end())));
    } else {
        dict.Add("ColorSpace", Name(plan.Kind == TFlateColours::Gray ? "DeviceGray" : "DeviceRGB"));
    }
    dict.Add("BitsPerComponent", Number(8));
    return image;
}

namespace {
// One alpha row as bytes; missing rows and columns are opaque.
void AlphaBytes(TIEBitmap& plane, int y, int width, std::vector<std::uint8_t>& out) {
    out.assign(std::size_t(width), 255);
    const std::uint8_t* row = y < plane.Height() ? plane.RowPointer(y) : nullptr;
    if (!row) return;
    const int have = std::min(width, plane.Width());
    if (plane.PixelType() == ie1Bit) {
        for (int x = 0; x < have; ++x) out[std::size_t(x)] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    } else if (plane.PixelType() == ie8Gray) {
        for (int x = 0; x < have; ++x) out[std::size_t(x)] = row[x];
    }
}
} // namespace

bool AlphaPlaneOpaque(TIEBitmap& plane, int width, int height) {
    std::vector<std::uint8_t> alpha;
    for (int y = 0; y < height; ++y) {
        AlphaBytes(plane, y, width, alpha);
        for (const std::uint8_t a : alpha)
            if (a != 255) return false;
    }
    return true;
}

std::unique_ptr<TIEPDFStreamObject> SoftMaskImage(TIEBitmap& plane, int width, int height, bool& aborting) {
    TMemoryStream coded;
    TFlateRowEncoder encoder(coded, std::size_t(width), 1, true);
    std::vector<std::uint8_t> alpha;
    for (int y = 0; y < height; ++y) {
        AlphaBytes(plane, y, width, alpha);
        encoder.AddRow(alpha.data(), aborting);
    }
    encoder.Finish(aborting);
    std::unique_ptr<TIEPDFStreamObject> mask = StreamOf(coded);
    TIEPDFDictionaryObject& dict = mask->Dictionary();
    dict.Add("DecodeParms", PngPredictorParms(1, width));
    dict.Insert(0, "Type", Name("XObject"));
    dict.Insert(1, "Subtype", Name("Image"));
    dict.Add("Width", Number(width));
    dict.Add("Height", Number(height));
    dict.Add("ColorSpace", Name("DeviceGray"));
    dict.Add("BitsPerComponent", Number(8));
    return mask;
}
