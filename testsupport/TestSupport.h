#pragma once
// Test helpers: the shared corpus, scratch folders, external reference tools and simple images.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The third-party corpus folder: FOLIANTO_CORPUS_DIR as the tests run, else the folder the build was
// configured with (../shared/corpus beside the repository).
std::string CorpusDir();
// True when CorpusDir holds the corpus (its MANIFEST.tsv).
bool CorpusAvailable();
// Why corpus tests are skipped: where the corpus was expected and how to point the tests at it.
std::string CorpusMissingMessage();
// Rows of MANIFEST.tsv: path (relative to CorpusDir), format, note.
struct CorpusEntry {
    std::string Path, Format, Note;
    bool IsBad() const; // the note starts with "bad" or the path is in a bad/corrupted/fuzz/crashtest folder
};
// Without a corpus: none, and a test that asks is marked skipped with CorpusMissingMessage.
std::vector<CorpusEntry> CorpusFiles(const std::string& format);
// For parameterised suites: CorpusFiles, or without a corpus one placeholder entry
// ("<format>/no-corpus"), so the suite still holds a test, and that test skips
// (FOLIANTO_REQUIRE_CORPUS) with the message.
std::vector<CorpusEntry> CorpusCases(const std::string& format);

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

// Files that process pid (0: this one) holds open in folder although they have no name there, as the
// system lists them under /proc/<pid>/fd.
std::vector<std::string> UnnamedFilesOpenIn(int pid, const std::string& folder);

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

// At the start of a test that reads the corpus: skips it, saying where the corpus was expected, when
// the corpus is not there.
#define FOLIANTO_REQUIRE_CORPUS()                                                                            \
    if (!testsupport::CorpusAvailable()) GTEST_SKIP() << testsupport::CorpusMissingMessage()
