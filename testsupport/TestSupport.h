#pragma once
// Test helpers: the shared corpus, scratch folders, external reference tools and simple images.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The third-party corpus folder (FOLIANTO_CORPUS_DIR, else ../shared/corpus beside the repository).
std::string CorpusDir();
// Rows of MANIFEST.tsv: path (relative to CorpusDir), format, note.
struct CorpusEntry {
    std::string Path, Format, Note;
    bool IsBad() const; // the note starts with "bad" or the path is in a bad/corrupted/fuzz/crashtest folder
};
std::vector<CorpusEntry> CorpusFiles(const std::string& format);

// A fresh scratch folder under the system temp folder, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return Dir; }
    std::string File(const std::string& name) const { return Dir + "/" + name; }

private:
    std::string Dir;
};

// Runs a shell command; returns its exit status (-1 when it could not run) and its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);
// Quotes a path for the shell.
std::string ShellQuote(const std::string& s);
bool ToolAvailable(const std::string& tool);

// An 8-bit RGB image (red, green, blue per pixel, rows top to bottom).
struct RgbImage {
    int Width = 0, Height = 0;
    std::vector<std::uint8_t> Pixels;
    const std::uint8_t* At(int x, int y) const { return &Pixels[(std::size_t(y) * Width + x) * 3]; }
};
// Reads a binary PPM (P6, maxval 255) or PGM (P5, maxval 255, expanded to RGB).
bool ReadPnm(const std::string& path, RgbImage& image);
bool WritePpm(const std::string& path, const RgbImage& image);
// Decodes any file with ImageMagick (/usr/bin/convert) to RGB; frame selects one frame ("[0]").
bool DecodeWithImageMagick(const std::string& path, RgbImage& image, int frame = 0);
// Peak signal-to-noise ratio in dB (99 for identical images, -1 for different sizes).
double Psnr(const RgbImage& a, const RgbImage& b);
// Largest absolute channel difference (-1 for different sizes).
int MaxDifference(const RgbImage& a, const RgbImage& b);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace testsupport
