#pragma once
// The PDF objects an image-only writer builds in memory: each appends its own PDF text to a stream.
// Objects are built, written once and freed; nothing is parsed back.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TStream;

class TIEPDFObject {
public:
    TIEPDFObject() = default;
    virtual ~TIEPDFObject() = default;
    TIEPDFObject(const TIEPDFObject&) = delete;
    TIEPDFObject& operator=(const TIEPDFObject&) = delete;

    // Records the stream position in FilePosition, then appends the object's text: nothing before or
    // after it. Raises EWriteError when the stream accepts fewer bytes than given.
    virtual void WriteTo(TStream& stream) = 0;

    std::int32_t ObjectNumber = 0; // 0 until registered; then 1, 2, 3... in registration order
    // 64 bits: a document past 2 GiB still gets correct cross-reference offsets.
    std::int64_t FilePosition = 0;
    bool Shared = false; // a container holding a shared object never frees it
};

// Registered (indirect) objects, owned by the document; index + 1 is the object number.
using TIEPDFObjectList = std::vector<std::unique_ptr<TIEPDFObject>>;

// Appends object to list (which takes ownership, also on failure) and numbers it with the list's new
// count. Returns the object.
TIEPDFObject* RegisterObject(TIEPDFObjectList& list, TIEPDFObject* object);
template <class T> T* RegisterObject(TIEPDFObjectList& list, T* object) {
    RegisterObject(list, static_cast<TIEPDFObject*>(object));
    return object;
}

// Write the text's bytes exactly (WriteLine adds one line feed); EWriteError on a short write.
void WriteText(TStream& stream, std::string_view text);
void WriteLine(TStream& stream, std::string_view text);

// Number text: integral values as plain decimal integers, others in plain decimal notation with at
// most 15 significant digits; never an exponent. Not-a-number and infinities print as 0.
std::string PdfNumberText(double value);
// "(", the text with \b \t \n \f \r \( \) \\ escaped, ")".
std::string PdfStringText(std::string_view text);
// "/", then bytes 0x21-0x7E unchanged and every other byte as #XX (upper-case hexadecimal).
std::string PdfNameText(std::string_view text);

class TIEPDFRefObject : public TIEPDFObject {
public:
    explicit TIEPDFRefObject(std::int32_t objectNumber, std::int32_t generation = 0)
        : TargetNumber(objectNumber), Generation(generation) {}
    void WriteTo(TStream& stream) override;

    std::int32_t TargetNumber; // the referenced object's number (the target is not owned)
    std::int32_t Generation;
};

class TIEPDFBooleanObject : public TIEPDFObject {
public:
    explicit TIEPDFBooleanObject(bool value) : Value(value) {}
    void WriteTo(TStream& stream) override;
    bool Value;
};

class TIEPDFNumericObject : public TIEPDFObject {
public:
    explicit TIEPDFNumericObject(double value) : Value(value) {}
    void WriteTo(TStream& stream) override;
    double Value;
};

class TIEPDFStringObject : public TIEPDFObject {
public:
    explicit TIEPDFStringObject(std::string text) : Text(std::move(text)) {}
    void WriteTo(TStream& stream) override;
    std::string Text;
};

class TIEPDFNameObject : public TIEPDFObject {
public:
    explicit TIEPDFNameObject(std::string text) : Text(std::move(text)) {}
    void WriteTo(TStream& stream) override;
    std::string Text; // without the slash
};

// Owns its items (unless Shared); frees them last first.
class TIEPDFArrayObject : public TIEPDFObject {
public:
    TIEPDFArrayObject() = default;
    ~TIEPDFArrayObject() override;
    void WriteTo(TStream& stream) override;

    // Ownership passes to the array (also when appending fails).
    void Add(TIEPDFObject* item);
    std::size_t Count() const { return Items.size(); }
    TIEPDFObject* Item(std::size_t index) const { return Items.at(index); }

private:
    std::vector<TIEPDFObject*> Items;
};

// An ordered list of (key, object) entries; owns the objects (unless Shared) and frees them last first.
class TIEPDFDictionaryObject : public TIEPDFObject {
public:
    TIEPDFDictionaryObject() = default;
    ~TIEPDFDictionaryObject() override;
    void WriteTo(TStream& stream) override;

    // Appends at the end; a key already present is appended again, not merged. Ownership passes to
    // the dictionary (also when appending fails). Keys are written raw after the "/".
    void Add(std::string_view key, TIEPDFObject* object);
    // Inserts before position index (0 <= index <= Count()).
    void Insert(std::size_t index, std::string_view key, TIEPDFObject* object);
    // Position of the first entry whose key matches, letter case ignored; -1 when absent.
    int IndexOf(std::string_view key) const;
    // Raise EPlatformException "List index out of bounds" for a position outside the list.
    TIEPDFObject* ObjectAt(int index) const;
    const std::string& KeyAt(int index) const;
    // Puts object at index and returns the old object, which the caller now owns.
    TIEPDFObject* ReplaceAt(int index, TIEPDFObject* object);
    std::size_t Count() const { return Entries.size(); }

private:
    std::vector<std::pair<std::string, TIEPDFObject*>> Entries;
};

// A dictionary, then the data bytes between "stream" and "endstream". The "Length" entry is brought up
// to DataLength each time the stream is written.
class TIEPDFStreamObject : public TIEPDFObject {
public:
    // The empty form: no data, and a dictionary whose only entry is Length -> 0.
    TIEPDFStreamObject();
    // The empty form holding data (moved in, so large image blocks are not copied).
    explicit TIEPDFStreamObject(std::vector<std::uint8_t> data);
    // The empty form holding a fresh copy of length bytes (the caller keeps its buffer).
    static std::unique_ptr<TIEPDFStreamObject> CreateWithData(const void* bytes, std::int64_t length);
    void WriteTo(TStream& stream) override;

    TIEPDFDictionaryObject& Dictionary() { return *FDictionary; }
    const std::vector<std::uint8_t>& Data() const { return FData; }
    std::int64_t DataLength() const { return static_cast<std::int64_t>(FData.size()); }

private:
    std::vector<std::uint8_t> FData;
    std::unique_ptr<TIEPDFDictionaryObject> FDictionary;
};
