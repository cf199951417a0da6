#pragma once
// Record readers and the WMF and EMF players that turn records into canvas calls.
#include "codecs/metafile/MetafileCanvas.h"
#include "platform/ByteOrder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace metafile {

// One record's bytes. Every read is checked; a read past the end throws EMalformedRecord.
class TRecord {
public:
    TRecord(const std::uint8_t* p, std::size_t n) : P(p), N(n) {}
    std::size_t Size() const { return N; }
    bool Has(std::size_t off, std::size_t count) const { return off <= N && count <= N - off; }
    void Need(std::size_t off, std::size_t count) const {
        if (!Has(off, count)) throw EMalformedRecord();
    }
    const std::uint8_t* Bytes(std::size_t off, std::size_t count) const {
        Need(off, count);
        return P + off;
    }
    std::uint8_t U8(std::size_t off) const { return *Bytes(off, 1); }
    std::uint16_t U16(std::size_t off) const { return ReadLe16(Bytes(off, 2)); }
    std::int16_t I16(std::size_t off) const { return std::int16_t(U16(off)); }
    std::uint32_t U32(std::size_t off) const { return ReadLe32(Bytes(off, 4)); }
    std::int32_t I32(std::size_t off) const { return std::int32_t(U32(off)); }
    float F32(std::size_t off) const {
        const std::uint32_t v = U32(off);
        float f;
        std::memcpy(&f, &v, 4);
        return f;
    }

private:
    const std::uint8_t* P;
    std::size_t N;
};

// Plays the WMF records starting at offset `records` of data. objectCount is the header's object table
// size. True when playback reached the end-of-file record or the end of the data; false when a malformed
// record ended it.
bool PlayWmf(const std::vector<std::uint8_t>& data, std::size_t records, std::size_t objectCount,
             TGdiCanvas& canvas);

// Plays an EMF (data starts with its header record). Same result convention as PlayWmf.
bool PlayEmf(const std::vector<std::uint8_t>& data, std::size_t handleCount, TGdiCanvas& canvas);

// The largest decoded size worth producing for a bitmap drawn over a destination extent (pixels).
int DecodeLimit(double devicePixels);

// GDI's stock objects (EMF handles with the high bit set), also the DC defaults.
TGdiObject StockObject(std::uint32_t index);

} // namespace metafile
