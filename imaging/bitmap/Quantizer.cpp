#include "imaging/bitmap/Quantizer.h"

#include "imaging/bitmap/IEBitmap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr int kKMeansPasses = 3;

int Distance(const TIERgbTriple& a, const TIERgbTriple& b) {
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

struct TEntry {
    double Mean[3]; // red, green, blue
    std::uint64_t Count;
    int Bin;
};

struct TBox {
    std::size_t Begin, End;
    double Score; // weighted squared spread; the box with the largest is split next
};

double Score(const std::vector<TEntry>& entries, std::size_t begin, std::size_t end) {
    double total = 0, mean[3] = {0, 0, 0};
    for (std::size_t i = begin; i < end; ++i) {
        const double n = double(entries[i].Count);
        total += n;
        for (int c = 0; c < 3; ++c) mean[c] += n * entries[i].Mean[c];
    }
    if (total == 0) return 0;
    for (double& m : mean) m /= total;
    double s = 0;
    for (std::size_t i = begin; i < end; ++i)
        for (int c = 0; c < 3; ++c) {
            const double d = entries[i].Mean[c] - mean[c];
            s += double(entries[i].Count) * d * d;
        }
    return s;
}

std::uint8_t Round8(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

TIEQuantizer::TIEQuantizer(int maxColors) : FMaxColors(std::clamp(maxColors, 1, 256)), FBins(32768) {}

TIEQuantizer::TIEQuantizer(TIEBitmap& image, int maxColors) : TIEQuantizer(maxColors) {
    if (image.PixelType() == ie24Rgb) {
        const std::uint8_t oldAccess = image.Access;
        image.Access = AccessRead;
        const int w = image.Width(), h = image.Height();
        for (int y = 0; y < h; ++y)
            if (const std::uint8_t* row = image.RowPointer(y))
                AddPixels(reinterpret_cast<const TIERgbTriple*>(row), w);
        image.Access = oldAccess;
    }
    Build();
}

void TIEQuantizer::AddPixels(const TIERgbTriple* pixels, std::int64_t count) {
    std::uint32_t lastKey = 0xFFFFFFFFu;
    for (std::int64_t i = 0; i < count; ++i) {
        const TIERgbTriple p = pixels[i];
        TBin& bin =
            FBins[(std::size_t(p.r >> 3) << 10) | (std::size_t(p.g >> 3) << 5) | std::size_t(p.b >> 3)];
        ++bin.Count;
        bin.SumR += p.r;
        bin.SumG += p.g;
        bin.SumB += p.b;
        if (!FExact) continue;
        const std::uint32_t key = TripleToInt(p);
        if (key == lastKey) continue;
        lastKey = key;
        FExactColors.emplace(key, 0);
        if (FExactColors.size() > static_cast<std::size_t>(FMaxColors)) {
            FExact = false;
            FExactColors.clear();
        }
    }
}

void TIEQuantizer::Build() {
    if (FBuilt) return;
    FBuilt = true;
    FPalette.clear();
    if (FExact) {
        std::vector<std::uint32_t> keys;
        keys.reserve(FExactColors.size());
        for (const auto& kv : FExactColors) keys.push_back(kv.first);
        std::sort(keys.begin(), keys.end());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            FExactColors[keys[i]] = static_cast<int>(i);
            FPalette.push_back(IntToTriple(keys[i]));
        }
    } else {
        std::vector<TEntry> entries;
        for (std::size_t b = 0; b < FBins.size(); ++b) {
            const TBin& bin = FBins[b];
            if (bin.Count == 0) continue;
            const double n = double(bin.Count);
            entries.push_back({{double(bin.SumR) / n, double(bin.SumG) / n, double(bin.SumB) / n},
                               bin.Count,
                               static_cast<int>(b)});
        }
        std::vector<TBox> boxes;
        if (!entries.empty()) boxes.push_back({0, entries.size(), Score(entries, 0, entries.size())});
        while (boxes.size() < static_cast<std::size_t>(FMaxColors)) {
            auto it = std::max_element(boxes.begin(), boxes.end(), [](const TBox& a, const TBox& b) {
                const bool splitA = a.End - a.Begin > 1, splitB = b.End - b.Begin > 1;
                if (splitA != splitB) return !splitA;
                return a.Score < b.Score;
            });
            if (it == boxes.end() || it->End - it->Begin < 2) break;
            TBox box = *it;
            // Split across the channel with the widest weighted spread, at the population median.
            double mean[3] = {0, 0, 0}, var[3] = {0, 0, 0}, total = 0;
            for (std::size_t i = box.Begin; i < box.End; ++i) {
                total += double(entries[i].Count);
                for (int c = 0; c < 3; ++c) mean[c] += double(entries[i].Count) * entries[i].Mean[c];
            }
            for (double& m : mean) m /= total;
            for (std::size_t i = box.Begin; i < box.End; ++i)
                for (int c = 0; c < 3; ++c) {
                    const double d = entries[i].Mean[c] - mean[c];
                    var[c] += double(entries[i].Count) * d * d;
                }
            const int axis = int(std::max_element(var, var + 3) - var);
            std::sort(entries.begin() + static_cast<std::ptrdiff_t>(box.Begin),
                      entries.begin() + static_cast<std::ptrdiff_t>(box.End),
                      [axis](const TEntry& a, const TEntry& b) { return a.Mean[axis] < b.Mean[axis]; });
            double running = 0;
            std::size_t split = box.Begin + 1;
            for (std::size_t i = box.Begin; i < box.End - 1; ++i) {
                running += double(entries[i].Count);
                split = i + 1;
                if (running >= total / 2) break;
            }
            *it = {box.Begin, split, Score(entries, box.Begin, split)};
            boxes.push_back({split, box.End, Score(entries, split, box.End)});
        }
        for (const TBox& box : boxes) {
            double sum[3] = {0, 0, 0}, n = 0;
            for (std::size_t i = box.Begin; i < box.End; ++i) {
                n += double(entries[i].Count);
                for (int c = 0; c < 3; ++c) sum[c] += double(entries[i].Count) * entries[i].Mean[c];
            }
            FPalette.push_back(CreateRGB(Round8(sum[0] / n), Round8(sum[1] / n), Round8(sum[2] / n)));
        }
        // A few k-means passes over the bins pull each entry to the centre of what it represents.
        for (int pass = 0; pass < kKMeansPasses && !FPalette.empty(); ++pass) {
            std::vector<std::array<double, 4>> acc(FPalette.size(), {0, 0, 0, 0});
            for (const TEntry& e : entries) {
                const int k =
                    NearestByScan(CreateRGB(Round8(e.Mean[0]), Round8(e.Mean[1]), Round8(e.Mean[2])));
                auto& a = acc[static_cast<std::size_t>(k)];
                const double n = double(e.Count);
                a[0] += n * e.Mean[0];
                a[1] += n * e.Mean[1];
                a[2] += n * e.Mean[2];
                a[3] += n;
            }
            for (std::size_t k = 0; k < FPalette.size(); ++k)
                if (acc[k][3] > 0)
                    FPalette[k] = CreateRGB(Round8(acc[k][0] / acc[k][3]), Round8(acc[k][1] / acc[k][3]),
                                            Round8(acc[k][2] / acc[k][3]));
        }
    }
    FBins.clear();
    FBins.shrink_to_fit();
}

int TIEQuantizer::NearestByScan(TIERgbTriple color) const {
    int best = 0, bestDistance = std::numeric_limits<int>::max();
    for (std::size_t k = 0; k < FPalette.size(); ++k)
        if (const int d = Distance(FPalette[k], color); d < bestDistance) {
            best = static_cast<int>(k);
            bestDistance = d;
        }
    return best;
}

int TIEQuantizer::Nearest(TIERgbTriple color) {
    if (FPalette.empty()) return 0;
    if (FCellStart.empty()) {
        FCellStart.assign(kCells, -1);
        FCellCount.assign(kCells, 0);
    }
    const std::size_t cell =
        (std::size_t(color.r >> 2) << 12) | (std::size_t(color.g >> 2) << 6) | (color.b >> 2);
    if (FCellStart[cell] < 0) {
        // An entry can be nearest for some colour of the cell only when its closest approach to the cell
        // is no farther than the best entry's farthest point of it. Candidates are kept by closest approach
        // so a lookup stops as soon as no later one can win.
        const int lo[3] = {color.r & ~3, color.g & ~3, color.b & ~3};
        thread_local std::vector<std::pair<int, int>> near; // closest approach, entry
        near.clear();
        int bound = std::numeric_limits<int>::max();
        for (std::size_t k = 0; k < FPalette.size(); ++k) {
            const int c[3] = {FPalette[k].r, FPalette[k].g, FPalette[k].b};
            int nearD = 0, farD = 0;
            for (int i = 0; i < 3; ++i) {
                const int hi = lo[i] + 3;
                const int n = c[i] < lo[i] ? lo[i] - c[i] : c[i] > hi ? c[i] - hi : 0;
                const int f = std::max(std::abs(c[i] - lo[i]), std::abs(c[i] - hi));
                nearD += n * n;
                farD += f * f;
            }
            bound = std::min(bound, farD);
            if (nearD <= bound) near.emplace_back(nearD, static_cast<int>(k));
        }
        std::sort(near.begin(), near.end());
        FCellStart[cell] = static_cast<std::int32_t>(FCandidates.size());
        for (const auto& [d, k] : near) {
            if (d > bound) break;
            FCandidates.push_back({d, static_cast<std::uint8_t>(k)});
        }
        FCellCount[cell] = static_cast<std::uint8_t>(FCandidates.size() - std::size_t(FCellStart[cell]) - 1);
    }
    const TCandidate* candidates = FCandidates.data() + FCellStart[cell];
    int best = candidates[0].Entry, bestDistance = Distance(FPalette[best], color);
    for (int i = 1; i <= FCellCount[cell] && candidates[i].Near < bestDistance; ++i)
        if (const int d = Distance(FPalette[candidates[i].Entry], color); d < bestDistance) {
            best = candidates[i].Entry;
            bestDistance = d;
        }
    return best;
}

int TIEQuantizer::RGBIndex(TIERgbTriple color) {
    if (!FBuilt) Build();
    if (FExact) {
        const auto it = FExactColors.find(TripleToInt(color));
        if (it != FExactColors.end()) return it->second;
    }
    return Nearest(color);
}
