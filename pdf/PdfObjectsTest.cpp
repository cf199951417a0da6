#include "pdf/PdfObjects.h"

#include "platform/Exceptions.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {
std::string Text(TIEPDFObject& object) {
    TMemoryStream s;
    object.WriteTo(s);
    return std::string(s.Bytes().begin(), s.Bytes().end());
}

// A stream that takes at most Room bytes in all.
class TShortStream : public TMemoryStream {
public:
    explicit TShortStream(std::int64_t room) : Room(room) {}
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const std::int64_t n = std::min(count, Room);
        Room -= n;
        return TMemoryStream::Write(buffer, n);
    }
    std::int64_t Room;
};

// Counts destructions, so ownership can be checked.
class TCountedObject : public TIEPDFNumericObject {
public:
    explicit TCountedObject(int& destroyed) : TIEPDFNumericObject(1), Destroyed(destroyed) {}
    ~TCountedObject() override { ++Destroyed; }
    int& Destroyed;
};

struct TextCase {
    const char* Name;
    std::string Input;
    std::string Expected;
};

class PdfStringTest : public testing::TestWithParam<TextCase> {};
TEST_P(PdfStringTest, Escapes) {
    TIEPDFStringObject s(GetParam().Input);
    EXPECT_EQ(Text(s), GetParam().Expected);
}
const TextCase kStringCases[] = {
    {"ParenthesesAndBackslash", "(1)\\2", "(\\(1\\)\\\\2)"},
    {"LineFeedAndCarriageReturn", "a\nb\rc", "(a\\nb\\rc)"},
    {"BackspaceTabFormFeed", "\b\t\f", "(\\b\\t\\f)"},
    {"HighBytesPassUnchanged", "caf\xE9", "(caf\xE9)"},
    {"Empty", "", "()"},
    {"NulPassesUnchanged", std::string("a\0b", 3), std::string("(a\0b)", 5)},
};
INSTANTIATE_TEST_SUITE_P(Text, PdfStringTest, testing::ValuesIn(kStringCases),
                         [](const auto& info) { return std::string(info.param.Name); });

class PdfNameTest : public testing::TestWithParam<TextCase> {};
TEST_P(PdfNameTest, Encodes) {
    TIEPDFNameObject n(GetParam().Input);
    EXPECT_EQ(Text(n), GetParam().Expected);
}
const TextCase kNameCases[] = {
    {"Plain", "lm1", "/lm1"},
    {"SpaceAndHighByte", "a b\xE9", "/a#20b#E9"},
    {"ControlAndDelete", std::string("\x01\x7F", 2), "/#01#7F"},
    {"PrintableDelimitersUnchanged", "#()!~", "/#()!~"},
};
INSTANTIATE_TEST_SUITE_P(Text, PdfNameTest, testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PdfNumberTest, Text) {
    const std::pair<double, const char*> cases[] = {
        {-1, "-1"},
        {8, "8"},
        {612, "612"},
        {0, "0"},
        {-0.0, "0"},
        {0.5, "0.5"},
        {-2.25, "-2.25"},
        {1.0 / 3, "0.333333333333333"},
        {1e20, "100000000000000000000"},
        {1e-7, "0.0000001"},
        {123456789012345.0, "123456789012345"},
    };
    for (const auto& [value, expected] : cases) {
        TIEPDFNumericObject n(value);
        EXPECT_EQ(Text(n), expected) << value;
    }
}

TEST(PdfObjectTest, ScalarsAndReferences) {
    TIEPDFRefObject r(5, 0);
    TIEPDFBooleanObject t(true), f(false);
    EXPECT_EQ(Text(r), "5 0 R");
    EXPECT_EQ(Text(t), "true");
    EXPECT_EQ(Text(f), "false");
}

TEST(PdfObjectTest, ArraysAndDictionaries) {
    TIEPDFArrayObject empty;
    EXPECT_EQ(Text(empty), "[]");
    TIEPDFArrayObject names;
    names.Add(new TIEPDFNameObject("PDF"));
    names.Add(new TIEPDFNameObject("ImageB"));
    EXPECT_EQ(Text(names), "[/PDF /ImageB ]");

    TIEPDFDictionaryObject none;
    EXPECT_EQ(Text(none), "<< >>");
    TIEPDFDictionaryObject catalog;
    catalog.Add("Type", new TIEPDFNameObject("Catalog"));
    catalog.Add("Pages", new TIEPDFRefObject(3));
    EXPECT_EQ(Text(catalog), "<< /Type /Catalog\n/Pages 3 0 R\n>>");
}

TEST(PdfObjectTest, DictionaryLookupIgnoresCaseAndKeepsDuplicates) {
    TIEPDFDictionaryObject d;
    d.Add("Length", new TIEPDFNumericObject(1));
    d.Add("Filter", new TIEPDFNameObject("A"));
    d.Add("filter", new TIEPDFNameObject("B")); // appended, not merged
    d.Insert(0, "Type", new TIEPDFNameObject("XObject"));
    EXPECT_EQ(d.IndexOf("FILTER"), 2);
    EXPECT_EQ(d.IndexOf("Missing"), -1);
    EXPECT_EQ(d.Count(), 4u);
    EXPECT_EQ(Text(d), "<< /Type /XObject\n/Length 1\n/Filter /A\n/filter /B\n>>");
    EXPECT_THROW(d.ObjectAt(4), EPlatformException);
    EXPECT_THROW(d.ObjectAt(-1), EPlatformException);
    std::unique_ptr<TIEPDFObject> old(d.ReplaceAt(1, new TIEPDFNumericObject(7)));
    EXPECT_EQ(Text(*old), "1");
    EXPECT_EQ(Text(*d.ObjectAt(1)), "7");
}

TEST(PdfObjectTest, ContainersFreeOnlyWhatIsNotShared) {
    int destroyed = 0;
    auto* shared = new TCountedObject(destroyed);
    shared->Shared = true;
    {
        TIEPDFDictionaryObject d;
        d.Add("Shared", shared);
        d.Add("Owned", new TCountedObject(destroyed));
        auto* a = new TIEPDFArrayObject;
        a->Add(shared);
        a->Add(new TCountedObject(destroyed));
        d.Add("Array", a);
    }
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(Text(*shared), "1");
    delete shared;
}

TEST(PdfStreamTest, WritesDictionaryDataAndKeepsLengthFirst) {
    const std::uint8_t data[3] = {0x00, 0x0A, 0xFF};
    auto s = TIEPDFStreamObject::CreateWithData(data, 3);
    s->Dictionary().Add("Filter", new TIEPDFNameObject("DCTDecode"));
    const std::string expected = std::string("<< /Length 3\n/Filter /DCTDecode\n>>\nstream\n") +
                                 std::string("\x00\x0A\xFF", 3) + "\nendstream";
    EXPECT_EQ(Text(*s), expected);
    EXPECT_EQ(Text(*s), expected); // writing again gives the same bytes
    EXPECT_EQ(s->Dictionary().IndexOf("Length"), 0);
    EXPECT_EQ(s->Dictionary().Count(), 2u);
}

TEST(PdfStreamTest, EmptyFormAndCopiedData) {
    TIEPDFStreamObject empty;
    EXPECT_EQ(Text(empty), "<< /Length 0\n>>\nstream\n\nendstream");
    std::uint8_t buffer[2] = {'a', 'b'};
    auto s = TIEPDFStreamObject::CreateWithData(buffer, 2);
    buffer[0] = 'z'; // the stream holds its own copy
    EXPECT_EQ(Text(*s), "<< /Length 2\n>>\nstream\nab\nendstream");
}

TEST(PdfStreamTest, LengthFollowsTheDataWherever) {
    // After Type and Subtype are put in front, the Length entry is found by key, not by place.
    auto s = TIEPDFStreamObject::CreateWithData("abcd", 4);
    s->Dictionary().Insert(0, "Type", new TIEPDFNameObject("XObject"));
    EXPECT_EQ(Text(*s), "<< /Type /XObject\n/Length 4\n>>\nstream\nabcd\nendstream");
}

TEST(PdfObjectTest, FilePositionIsWhereTheTextBegan) {
    TMemoryStream s;
    WriteText(s, "xyz");
    TIEPDFDictionaryObject d;
    auto* n = new TIEPDFNumericObject(42);
    d.Add("A", n);
    d.WriteTo(s);
    EXPECT_EQ(d.FilePosition, 3);
    EXPECT_EQ(n->FilePosition, 3 + 6); // after "<< /A "
}

TEST(PdfObjectTest, RegisterNumbersInOrder) {
    TIEPDFObjectList list;
    auto* a = RegisterObject(list, new TIEPDFDictionaryObject);
    auto* b = RegisterObject(list, new TIEPDFArrayObject);
    EXPECT_EQ(a->ObjectNumber, 1);
    EXPECT_EQ(b->ObjectNumber, 2);
    EXPECT_EQ(list.size(), 2u);
}

TEST(PdfObjectTest, WriteLineAndShortWrites) {
    TMemoryStream s;
    WriteLine(s, "%PDF-1.4");
    EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().end()), "%PDF-1.4\n");
    TShortStream shortStream(4);
    TIEPDFStringObject str("longer than four");
    EXPECT_THROW(str.WriteTo(shortStream), EWriteError);
}
} // namespace
