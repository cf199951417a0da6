#pragma once
// The texts and the arithmetic behind the image open dialog: message table, filter forms, the preview
// panel's information labels and the window sizes. Kept apart from the widgets so each rule can be
// checked on its own.
#include <cstdint>
#include <string>
#include <vector>

struct TIOParamsVals;

enum TMsgLanguage : std::uint8_t {
    msSystem,
    msEnglish,
    msItalian,
    msGerman,
    msSpanish,
    msFrench,
    msPortuguese,
    msGreek,
    msRussian,
    msDutch,
    msSwedish,
    msPolish,
    msUser
};

// Message numbers used by the dialog.
enum : int {
    msgPreview = 0,
    msgAdvanced = 45,
    msgColors = 58,
    msgAnimate = 87,
    msgAllGraphics = 124,
    msgVideoForWindows = 125,
    msgFile = 126,
    msgMem = 127
};

// The text of a message (UTF-8). msSystem picks the table of the user's language, English when there
// is none; an empty entry, or a number the table lacks, falls back to English.
std::string IEMessage(int number, TMsgLanguage language);
// The msUser table: entries set here answer for msUser (empty text removes the entry).
void SetUserMessage(int number, const std::string& text);

// One entry of a "description|masks|description|masks..." filter.
struct TFilterEntry {
    std::string Description;
    std::vector<std::string> Masks; // empty masks dropped
};
// Splits a filter text; a trailing description without masks is dropped.
std::vector<TFilterEntry> ParseFilter(const std::string& filter);
// Qt's name-filter form of each entry: "description (mask mask ...)".
std::vector<std::string> FilterToNameFilters(const std::string& filter);
// The masks of entry index (1-based; out of range takes the first), ";"-joined, or empty.
std::string FilterMasks(const std::string& filter, int index);
// The extension of the first of ";"-separated masks ("tif" for "*.tif;*.tiff"); empty when it holds
// wildcards or there is none.
std::string FirstMaskExtension(const std::string& masks);

// The initial-folder rule: one trailing "/" is removed unless the path is the root or the "/" follows
// ":" ("D:/" stays).
std::string NormalizeInitialDir(const std::string& dir);

// Number of colours for samples x bits ("16777216" for 4 x 8, "2^48" for 3 x 16).
std::string ColourCountText(std::int64_t samples, std::int64_t bits);
// bytes as "<n> bytes", or "<n / 1024> Kb" above 1023.
std::string SizeText(std::int64_t bytes);
// Bytes the image needs in memory: frames x height x padded row (1 bit for 1 x 1, else 24 bits).
// Negative inputs count as 0; the result saturates instead of wrapping.
std::int64_t ImageMemoryBytes(std::int64_t frames, std::int64_t width, std::int64_t height,
                              std::int64_t samples, std::int64_t bits);

struct TPreviewInfoTexts {
    std::string PicLabel1, PicLabel2, PicLabel3, InfoLabel1, InfoLabel2;
};
// The panel's information from the parameters of the last load, the file's frame count and size.
TPreviewInfoTexts PreviewInfoTexts(const TIOParamsVals& params, int frames, std::int64_t fileSize,
                                   TMsgLanguage language);

// The filter built from the format table: every format that can be read, in table order, after an
// "All graphics" entry; withAvi adds the video entry.
std::string AutomaticFilter(bool withAvi, TMsgLanguage language);

struct TIntSize {
    int Width = 0, Height = 0;
    bool operator==(const TIntSize&) const = default;
};
struct TIntPoint {
    int X = 0, Y = 0;
    bool operator==(const TIntPoint&) const = default;
};
// Where the open dialog goes: centred across, a third of the free height above.
TIntPoint DialogPosition(TIntSize screen, TIntSize dialog);
// Client size of the preview window: the image size, at least 100 and at most the screen, per side.
TIntSize PreviewClientSize(TIntSize image, TIntSize screen);
