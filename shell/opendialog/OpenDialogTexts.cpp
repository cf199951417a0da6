#include "shell/opendialog/OpenDialogTexts.h"

#include "imaging/params/FormatIds.h"
#include "imaging/params/FormatTable.h"
#include "imaging/params/IOParams.h"
#include "platform/Ascii.h"

#include <QLocale>

#include <algorithm>
#include <cctype>
#include <limits>
#include <map>
#include <mutex>

namespace {

struct TMessage {
    int Number;
    const char* Text;
};

// The messages the dialog shows, per language; a missing entry falls back to English.
constexpr TMessage kEnglish[] = {{0, "Preview"},  {45, "Advanced"},      {58, "Colors"},
                                 {87, "Animate"}, {124, "All graphics"}, {125, "Video for Windows"},
                                 {126, "File"},   {127, "Mem"}};
constexpr TMessage kItalian[] = {{0, "Anteprima"},           {45, "Avanzate"}, {58, "Colori"}, {87, "Anima"},
                                 {124, "Tutte le immagini"}, {126, "File"},    {127, "Mem"}};
constexpr TMessage kGerman[] = {{0, "Vorschau"},   {45, "Erweitert"},      {58, "Farben"},
                                {87, "Animieren"}, {124, "Alle Grafiken"}, {126, "Datei"},
                                {127, "Speicher"}};
constexpr TMessage kSpanish[] = {
    {0, "Vista previa"},         {45, "Avanzado"}, {58, "Colores"}, {87, "Animar"},
    {124, "Todos los gráficos"}, {126, "Archivo"}, {127, "Mem"}};
constexpr TMessage kFrench[] = {
    {0, "Aperçu"},    {45, "Avancé"}, {58, "Couleurs"}, {87, "Animer"}, {124, "Tous les graphiques"},
    {126, "Fichier"}, {127, "Mém"}};
constexpr TMessage kPortuguese[] = {{0, "Visualizar"}, {45, "Avançado"},           {58, "Cores"},
                                    {87, "Animar"},    {124, "Todos os gráficos"}, {126, "Arquivo"},
                                    {127, "Mem"}};
constexpr TMessage kGreek[] = {
    {0, "Προεπισκόπηση"}, {58, "Χρώματα"}, {124, "Όλα τα γραφικά"}, {126, "Αρχείο"}};
constexpr TMessage kRussian[] = {{0, "Просмотр"},  {45, "Дополнительно"}, {58, "Цвета"},
                                 {87, "Анимация"}, {124, "Вся графика"},  {126, "Файл"},
                                 {127, "Память"}};
constexpr TMessage kDutch[] = {{0, "Voorbeeld"}, {45, "Geavanceerd"},        {58, "Kleuren"},
                               {87, "Animeren"}, {124, "Alle afbeeldingen"}, {126, "Bestand"},
                               {127, "Geheugen"}};
constexpr TMessage kSwedish[] = {{0, "Förhandsgranska"}, {45, "Avancerat"}, {58, "Färger"}, {87, "Animera"},
                                 {124, "All grafik"},    {126, "Fil"},      {127, "Minne"}};
constexpr TMessage kPolish[] = {{0, "Podgląd"},   {45, "Zaawansowane"},      {58, "Kolory"},
                                {87, "Animacja"}, {124, "Wszystkie obrazy"}, {126, "Plik"},
                                {127, "Pamięć"}};

template <std::size_t N> const char* Lookup(const TMessage (&table)[N], int number) {
    for (const TMessage& m : table)
        if (m.Number == number) return m.Text;
    return nullptr;
}

std::mutex& UserLock() {
    static std::mutex lock;
    return lock;
}
std::map<int, std::string>& UserTable() {
    static std::map<int, std::string> table;
    return table;
}

TMsgLanguage SystemLanguage() {
    switch (QLocale::system().language()) {
    case QLocale::Italian:
        return msItalian;
    case QLocale::German:
        return msGerman;
    case QLocale::Spanish:
        return msSpanish;
    case QLocale::French:
        return msFrench;
    case QLocale::Portuguese:
        return msPortuguese;
    case QLocale::Greek:
        return msGreek;
    case QLocale::Russian:
        return msRussian;
    case QLocale::Dutch:
        return msDutch;
    case QLocale::Swedish:
        return msSwedish;
    case QLocale::Polish:
        return msPolish;
    default:
        return msEnglish;
    }
}

const char* LanguageText(int number, TMsgLanguage language) {
    switch (language) {
    case msItalian:
        return Lookup(kItalian, number);
    case msGerman:
        return Lookup(kGerman, number);
    case msSpanish:
        return Lookup(kSpanish, number);
    case msFrench:
        return Lookup(kFrench, number);
    case msPortuguese:
        return Lookup(kPortuguese, number);
    case msGreek:
        return Lookup(kGreek, number);
    case msRussian:
        return Lookup(kRussian, number);
    case msDutch:
        return Lookup(kDutch, number);
    case msSwedish:
        return Lookup(kSwedish, number);
    case msPolish:
        return Lookup(kPolish, number);
    default:
        return nullptr;
    }
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

std::string Trim(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
    std::string s;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) s += separator;
        s += parts[i];
    }
    return s;
}

// a x b, saturating at the largest int64 (both non-negative).
std::int64_t SatMul(std::int64_t a, std::int64_t b) {
    if (a == 0 || b == 0) return 0;
    if (a > std::numeric_limits<std::int64_t>::max() / b) return std::numeric_limits<std::int64_t>::max();
    return a * b;
}

} // namespace

std::string IEMessage(int number, TMsgLanguage language) {
    if (language == msSystem) language = SystemLanguage();
    if (language == msUser) {
        std::lock_guard<std::mutex> hold(UserLock());
        const auto it = UserTable().find(number);
        if (it != UserTable().end() && !it->second.empty()) return it->second;
    } else if (const char* text = LanguageText(number, language); text && *text) {
        return text;
    }
    const char* english = Lookup(kEnglish, number);
    return english ? english : std::string();
}

void SetUserMessage(int number, const std::string& text) {
    std::lock_guard<std::mutex> hold(UserLock());
    if (text.empty())
        UserTable().erase(number);
    else
        UserTable()[number] = text;
}

std::vector<TFilterEntry> ParseFilter(const std::string& filter) {
    std::vector<TFilterEntry> entries;
    if (filter.empty()) return entries;
    const std::vector<std::string> parts = Split(filter, '|');
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        TFilterEntry e;
        e.Description = parts[i];
        for (const std::string& mask : Split(parts[i + 1], ';')) {
            const std::string m = Trim(mask);
            if (!m.empty()) e.Masks.push_back(m);
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<std::string> FilterToNameFilters(const std::string& filter) {
    std::vector<std::string> names;
    for (const TFilterEntry& e : ParseFilter(filter)) {
        // Qt reads the patterns from the last parentheses, separated by blanks.
        names.push_back(e.Description + " (" + (e.Masks.empty() ? std::string("*") : Join(e.Masks, " ")) +
                        ")");
    }
    return names;
}

std::string FilterMasks(const std::string& filter, int index) {
    const std::vector<TFilterEntry> entries = ParseFilter(filter);
    if (entries.empty()) return {};
    const std::size_t i = (index >= 1 && std::size_t(index) <= entries.size()) ? std::size_t(index - 1) : 0;
    return Join(entries[i].Masks, ";");
}

std::string FirstMaskExtension(const std::string& masks) {
    const std::string first = Trim(masks.substr(0, masks.find(';')));
    const std::size_t dot = first.rfind('.');
    if (dot == std::string::npos) return {};
    const std::string ext = first.substr(dot + 1);
    if (ext.empty() || ext.find_first_of("*?") != std::string::npos) return {};
    return ext;
}

std::string NormalizeInitialDir(const std::string& dir) {
    if (dir.size() > 1 && dir.back() == '/' && dir[dir.size() - 2] != ':')
        return dir.substr(0, dir.size() - 1);
    return dir;
}

std::string ColourCountText(std::int64_t samples, std::int64_t bits) {
    if (samples == 4 && bits == 8) return "16777216";
    if (samples == 3 && bits == 16) return "2^48";
    const std::int64_t depth = SatMul(std::max<std::int64_t>(samples, 0), std::max<std::int64_t>(bits, 0));
    // Beyond 31 bits a 32-bit count would wrap (to 1 for 64-bit images), so those are written as powers.
    if (depth <= 31) return std::to_string(std::uint32_t(1) << depth);
    return "2^" + std::to_string(depth);
}

std::string SizeText(std::int64_t bytes) {
    if (bytes > 1023) return std::to_string(bytes / 1024) + " Kb";
    return std::to_string(bytes) + " bytes";
}

std::int64_t ImageMemoryBytes(std::int64_t frames, std::int64_t width, std::int64_t height,
                              std::int64_t samples, std::int64_t bits) {
    const std::int64_t b = (samples == 1 && bits == 1) ? 1 : 24;
    const std::int64_t w = std::max<std::int64_t>(width, 0);
    const std::int64_t rowBytes = ((w * b + 31) / 32) * 4; // width is 32-bit, so this cannot overflow
    return SatMul(SatMul(std::max<std::int64_t>(frames, 0), std::max<std::int64_t>(height, 0)), rowBytes);
}

TPreviewInfoTexts PreviewInfoTexts(const TIOParamsVals& p, int frames, std::int64_t fileSize,
                                   TMsgLanguage language) {
    TPreviewInfoTexts t;
    const bool jpeg = p.FileFormat == ioJPEG;
    const std::int64_t width = jpeg ? p.UnscaledWidth : p.ImageWidth;
    const std::int64_t height = jpeg ? p.UnscaledHeight : p.ImageHeight;
    t.PicLabel1 = std::to_string(width) + " x " + std::to_string(height) + " pixel";
    if (frames > 1) t.PicLabel1 += " , " + std::to_string(frames) + " frames";
    t.PicLabel3 = std::to_string(p.HorizontalDpi) + " x " + std::to_string(p.VerticalDpi) + " dpi";
    const std::int64_t depth = std::int64_t(p.SamplesPerPixel) * p.BitsPerSample;
    t.PicLabel2 = ColourCountText(p.SamplesPerPixel, p.BitsPerSample) + " " + IEMessage(msgColors, language) +
                  " (" + std::to_string(depth) + " bit)";
    t.InfoLabel2 = IEMessage(msgFile, language) + ": " + SizeText(fileSize) + "   " +
                   IEMessage(msgMem, language) + ": " +
                   SizeText(ImageMemoryBytes(frames, width, height, p.SamplesPerPixel, p.BitsPerSample));
    t.InfoLabel1 = p.FormatDescription();
    return t;
}

std::string AutomaticFilter(bool withAvi, TMsgLanguage language) {
    std::vector<std::string> allMasks;
    std::vector<std::string> entries;
    for (const TIEFileFormatInfo& f : FileFormatTable()) {
        if (!f.ReadFunction) continue;
        std::vector<std::string> masks, upper;
        for (const std::string& ext : Split(f.Extensions, ';')) {
            const std::string e = Trim(ext);
            if (e.empty()) continue;
            masks.push_back("*." + AsciiLower(e));
            upper.push_back(AsciiUpper(e));
        }
        if (masks.empty()) continue;
        const std::string joined = Join(masks, ";");
        allMasks.push_back(joined);
        entries.push_back(f.FullName + " (" + Join(upper, ";") + ")|" + joined);
    }
    std::string all = Join(allMasks, ";");
    if (withAvi) {
        all += ";*.avi";
        entries.push_back(IEMessage(msgVideoForWindows, language) + " (AVI)|*.avi");
    }
    std::string result = IEMessage(msgAllGraphics, language) + "|" + all;
    for (const std::string& e : entries) result += "|" + e;
    return result;
}

TIntPoint DialogPosition(TIntSize screen, TIntSize dialog) {
    return {(screen.Width - dialog.Width) / 2, (screen.Height - dialog.Height) / 3};
}

TIntSize PreviewClientSize(TIntSize image, TIntSize screen) {
    auto side = [](int v, int limit) { return std::max(100, std::min(v, std::max(limit, 100))); };
    return {side(image.Width, screen.Width), side(image.Height, screen.Height)};
}
