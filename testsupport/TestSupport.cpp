#include "testsupport/TestSupport.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace testsupport {

std::string CorpusDir() {
    if (const char* env = std::getenv("FOLIANTO_CORPUS_DIR"); env && *env) return env;
    return FOLIANTO_CORPUS_DEFAULT;
}

bool CorpusAvailable() {
    return std::filesystem::is_regular_file(CorpusDir() + "/MANIFEST.tsv");
}

std::string CorpusMissingMessage() {
    return "no third-party corpus at " + CorpusDir() +
           " (expected MANIFEST.tsv there; set FOLIANTO_CORPUS_DIR to the corpus folder to run this test)";
}

std::vector<CorpusEntry> CorpusCases(const std::string& format) {
    if (!CorpusAvailable()) return {CorpusEntry{format + "/no-corpus", format, ""}};
    return CorpusFiles(format);
}

bool CorpusEntry::IsBad() const {
    if (Note.rfind("bad", 0) == 0) return true;
    for (const char* dir : {"/bad/", "/corrupted/", "/fuzz/", "/crashtest/", "/invalid/"})
        if (Path.find(dir) != std::string::npos) return true;
    return false;
}

namespace {
// Records a skip for the running test, which still runs to its end: a loop over no files then passes
// as skipped. Outside a test (parameter lists are built before any runs) nothing is recorded.
void SkipRunningTestForMissingCorpus() {
    if (::testing::UnitTest::GetInstance()->current_test_info()) GTEST_SKIP() << CorpusMissingMessage();
}
} // namespace

std::vector<CorpusEntry> CorpusFiles(const std::string& format) {
    std::vector<CorpusEntry> out;
    if (!CorpusAvailable()) {
        SkipRunningTestForMissingCorpus();
        return out;
    }
    std::ifstream in(CorpusDir() + "/MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t')) cols.push_back(col);
        if (cols.size() < 2 || cols[1] != format) continue;
        CorpusEntry e;
        e.Path = cols[0];
        e.Format = cols[1];
        e.Note = cols.size() > 5 ? cols[5] : "";
        out.push_back(e);
    }
    return out;
}

TempDir::TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto p = base / ("folianto-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            Dir = p.string();
            break;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
}

std::vector<std::string> UnnamedFilesOpenIn(int pid, const std::string& folder) {
    const std::string fds = "/proc/" + (pid == 0 ? std::string("self") : std::to_string(pid)) + "/fd";
    std::string prefix = folder;
    while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
    prefix += '/';
    const std::string deleted = " (deleted)";
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
        const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
        if (ec || target.rfind(prefix, 0) != 0 || target.size() < prefix.size() + deleted.size()) continue;
        if (target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
            files.push_back(target);
    }
    return files;
}

int RunCommand(const std::string& command, std::string* output) {
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf{};
    std::string out;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    const int status = ::pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

bool ToolAvailable(const std::string& tool) {
    return RunCommand("command -v " + ShellQuote(tool) + " >/dev/null 2>&1") == 0;
}

namespace {
bool ReadToken(std::istream& in, int& value) {
    char c;
    while (in.get(c)) {
        if (c == '#') {
            std::string skip;
            std::getline(in, skip);
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            in.unget();
            break;
        }
    }
    return static_cast<bool>(in >> value);
}
} // namespace

bool ReadPnm(const std::string& path, RgbImage& image) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    if (!(in >> magic) || (magic != "P6" && magic != "P5")) return false;
    int w, h, maxval;
    if (!ReadToken(in, w) || !ReadToken(in, h) || !ReadToken(in, maxval) || maxval != 255) return false;
    in.get();
    const int channels = magic == "P6" ? 3 : 1;
    std::vector<std::uint8_t> raw(std::size_t(w) * h * channels);
    if (!in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()))) return false;
    image.Width = w;
    image.Height = h;
    if (channels == 3) {
        image.Pixels = std::move(raw);
    } else {
        image.Pixels.resize(raw.size() * 3);
        for (std::size_t i = 0; i < raw.size(); ++i)
            image.Pixels[i * 3] = image.Pixels[i * 3 + 1] = image.Pixels[i * 3 + 2] = raw[i];
    }
    return true;
}

bool WritePpm(const std::string& path, const RgbImage& image) {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << image.Width << " " << image.Height << "\n255\n";
    out.write(reinterpret_cast<const char*>(image.Pixels.data()),
              static_cast<std::streamsize>(image.Pixels.size()));
    return static_cast<bool>(out);
}

bool DecodeWithImageMagick(const std::string& path, RgbImage& image, int frame) {
    TempDir dir;
    const std::string out = dir.File("ref.ppm");
    const std::string cmd = "/usr/bin/convert " + ShellQuote(path + "[" + std::to_string(frame) + "]") +
                            " -depth 8 -colorspace sRGB -type TrueColor " + ShellQuote("ppm:" + out) +
                            " >/dev/null 2>&1";
    if (RunCommand(cmd) != 0) return false;
    return ReadPnm(out, image);
}

double Psnr(const RgbImage& a, const RgbImage& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.Pixels.size() != b.Pixels.size()) return -1;
    double se = 0;
    for (std::size_t i = 0; i < a.Pixels.size(); ++i) {
        const double d = double(a.Pixels[i]) - double(b.Pixels[i]);
        se += d * d;
    }
    if (se == 0) return 99.0;
    const double mse = se / double(a.Pixels.size());
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

int MaxDifference(const RgbImage& a, const RgbImage& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.Pixels.size() != b.Pixels.size()) return -1;
    int m = 0;
    for (std::size_t i = 0; i < a.Pixels.size(); ++i)
        m = std::max(m, std::abs(int(a.Pixels[i]) - int(b.Pixels[i])));
    return m;
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace testsupport
