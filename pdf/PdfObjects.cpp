#include "pdf/PdfObjects.h"

#include "platform/Ascii.h"
#include "platform/Exceptions.h"
#include "platform/Stream.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void ListIndexError() {
    throw EPlatformException("List index out of bounds");
}

// Frees an object handed over to a container whose append failed; shared objects belong elsewhere.
struct TOwnedUntilStored {
    TIEPDFObject* Object;
    ~TOwnedUntilStored() {
        if (Object && !Object->Shared) delete Object;
    }
};

} // namespace

TIEPDFObject* RegisterObject(TIEPDFObjectList& list, TIEPDFObject* object) {
    std::unique_ptr<TIEPDFObject> owned(object);
    list.push_back(std::move(owned));
    object->ObjectNumber = static_cast<std::int32_t>(list.size());
    return object;
}

void WriteText(TStream& stream, std::string_view text) {
    stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void WriteLine(TStream& stream, std::string_view text) {
    WriteText(stream, text);
    WriteText(stream, "\n");
}

std::string PdfNumberText(double value) {
    if (!std::isfinite(value)) return "0";
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        // Every number this system stores is integral: sizes, counts, lengths, K values.
        const auto n = static_cast<long long>(value);
        return std::to_string(n); // -0.0 prints as 0
    }
    // Round to 15 significant digits first, then print the shortest plain-decimal form of that value
    // (PDF has no exponent notation).
    char rounded[64];
    std::snprintf(rounded, sizeof rounded, "%.14e", value);
    const double v = std::strtod(rounded, nullptr);
    char out[512];
    const auto res = std::to_chars(out, out + sizeof out, v, std::chars_format::fixed);
    if (res.ec != std::errc()) return "0";
    std::string text(out, res.ptr);
    if (text == "-0") text = "0";
    return text;
}

std::string PdfStringText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '(';
    for (const char c : text) {
        switch (c) {
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        case '(':
            out += "\\(";
            break;
        case ')':
            out += "\\)";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
            break;
        }
    }
    out += ')';
    return out;
}

std::string PdfNameText(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "/";
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x21 && b <= 0x7E) {
            out += c;
        } else {
            out += '#';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}

void TIEPDFRefObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    WriteText(stream, std::to_string(TargetNumber) + " " + std::to_string(Generation) + " R");
}

void TIEPDFBooleanObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    WriteText(stream, Value ? "true" : "false");
}

void TIEPDFNumericObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    WriteText(stream, PdfNumberText(Value));
}

void TIEPDFStringObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    WriteText(stream, PdfStringText(Text));
}

void TIEPDFNameObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    WriteText(stream, PdfNameText(Text));
}

// ---- array

TIEPDFArrayObject::~TIEPDFArrayObject() {
    while (!Items.empty()) {
        TIEPDFObject* item = Items.back();
        Items.pop_back();
        if (item && !item->Shared) delete item;
    }
}

void TIEPDFArrayObject::Add(TIEPDFObject* item) {
    TOwnedUntilStored guard{item};
    Items.push_back(item);
    guard.Object = nullptr;
}

void TIEPDFArrayObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    WriteText(stream, "[");
    for (TIEPDFObject* item : Items) {
        item->WriteTo(stream);
        WriteText(stream, " ");
    }
    WriteText(stream, "]");
}

// ---- dictionary

TIEPDFDictionaryObject::~TIEPDFDictionaryObject() {
    while (!Entries.empty()) {
        TIEPDFObject* object = Entries.back().second;
        Entries.pop_back();
        if (object && !object->Shared) delete object;
    }
}

void TIEPDFDictionaryObject::Add(std::string_view key, TIEPDFObject* object) {
    Insert(Entries.size(), key, object);
}

void TIEPDFDictionaryObject::Insert(std::size_t index, std::string_view key, TIEPDFObject* object) {
    TOwnedUntilStored guard{object};
    if (index > Entries.size()) ListIndexError();
    Entries.insert(Entries.begin() + static_cast<std::ptrdiff_t>(index), {std::string(key), object});
    guard.Object = nullptr;
}

int TIEPDFDictionaryObject::IndexOf(std::string_view key) const {
    for (std::size_t i = 0; i < Entries.size(); ++i)
        if (EqualsIgnoringAsciiCase(Entries[i].first, key)) return static_cast<int>(i);
    return -1;
}

TIEPDFObject* TIEPDFDictionaryObject::ObjectAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= Entries.size()) ListIndexError();
    return Entries[static_cast<std::size_t>(index)].second;
}

const std::string& TIEPDFDictionaryObject::KeyAt(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= Entries.size()) ListIndexError();
    return Entries[static_cast<std::size_t>(index)].first;
}

TIEPDFObject* TIEPDFDictionaryObject::ReplaceAt(int index, TIEPDFObject* object) {
    TOwnedUntilStored guard{object};
    if (index < 0 || static_cast<std::size_t>(index) >= Entries.size()) ListIndexError();
    guard.Object = nullptr;
    TIEPDFObject* old = Entries[static_cast<std::size_t>(index)].second;
    Entries[static_cast<std::size_t>(index)].second = object;
    return old;
}

void TIEPDFDictionaryObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    WriteText(stream, "<< ");
    for (const auto& [key, object] : Entries) {
        WriteText(stream, "/");
        WriteText(stream, key);
        WriteText(stream, " ");
        object->WriteTo(stream);
        WriteText(stream, "\n");
    }
    WriteText(stream, ">>");
}

// ---- stream

TIEPDFStreamObject::TIEPDFStreamObject() : FDictionary(std::make_unique<TIEPDFDictionaryObject>()) {
    FDictionary->Add("Length", new TIEPDFNumericObject(0));
}

TIEPDFStreamObject::TIEPDFStreamObject(std::vector<std::uint8_t> data) : TIEPDFStreamObject() {
    FData = std::move(data);
}

std::unique_ptr<TIEPDFStreamObject> TIEPDFStreamObject::CreateWithData(const void* bytes,
                                                                       std::int64_t length) {
    auto stream = std::make_unique<TIEPDFStreamObject>();
    if (length > 0) {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        stream->FData.assign(p, p + length);
    }
    return stream;
}

void TIEPDFStreamObject::WriteTo(TStream& stream) {
    FilePosition = stream.Position();
    // The Length entry keeps its place; only its value follows the data.
    const int index = FDictionary->IndexOf("Length");
    TIEPDFObject* old =
        FDictionary->ReplaceAt(index, new TIEPDFNumericObject(static_cast<double>(DataLength())));
    if (old && !old->Shared) delete old;

    FDictionary->WriteTo(stream);
    WriteText(stream, "\n");
    WriteLine(stream, "stream");
    stream.WriteBuffer(FData.data(), DataLength());
    WriteText(stream, "\n");
    WriteText(stream, "endstream");
}
