#include "pdf/PdfWriter.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "pdf/PdfDctRows.h"
#include "pdf/PdfDigestingOutput.h"
#include "pdf/PdfEncoders.h"
#include "pdf/PdfFlateImage.h"
#include "pdf/PdfMd5.h"
#include "pdf/PdfPlacement.h"
#include "pdf/PdfTextString.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/Stream.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace {
TIEPDFObject* Name(const char* text) {
    return new TIEPDFNameObject(text);
}
TIEPDFObject* Number(double value) {
    return new TIEPDFNumericObject(value);
}
TIEPDFObject* Ref(const TIEPDFObject* target) {
    return new TIEPDFRefObject(target->ObjectNumber, 0);
}
TIEPDFObject* Bool(bool value) {
    return new TIEPDFBooleanObject(value);
}

std::size_t BilevelRowBytes(int width) {
    return (static_cast<std::size_t>(width) + 7) / 8;
}

// Rows 0 to height - 1, each the first ceil(width / 8) bytes of the bitmap row.
std::vector<std::uint8_t> BilevelRows(TIEBitmap& bitmap) {
    const int height = bitmap.Height();
    const std::size_t rowBytes = BilevelRowBytes(bitmap.Width());
    std::vector<std::uint8_t> data(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        std::memcpy(data.data() + rowBytes * static_cast<std::size_t>(y), bitmap.RowPointer(y), rowBytes);
    return data;
}

// Rows of width x 3 bytes in red, green, blue order.
std::vector<std::uint8_t> ColourRows(TIEBitmap& bitmap) {
    const int height = bitmap.Height();
    const std::size_t pixels = static_cast<std::size_t>(bitmap.Width());
    const std::size_t rowBytes = pixels * 3;
    std::vector<std::uint8_t> data(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = data.data() + rowBytes * static_cast<std::size_t>(y);
        std::memcpy(row, bitmap.RowPointer(y), rowBytes);
        SwapRedBlue(row, pixels);
    }
    return data;
}

TIEPDFDictionaryObject* CcittDecodeParms(int k, int width, int height, bool blackIs1 = true,
                                         bool byteAlign = false) {
    auto* parms = new TIEPDFDictionaryObject;
    std::unique_ptr<TIEPDFObject> owner(parms);
    parms->Add("K", Number(k));
    parms->Add("BlackIs1", Bool(blackIs1));
    parms->Add("Columns", Number(width));
    parms->Add("Rows", Number(height));
    parms->Add("EndOfLine", Bool(false));
    parms->Add("Uncompressed", Bool(true));
    parms->Add("EncodedByteAlign", Bool(byteAlign));
    parms->Add("EndOfBlock", Bool(false));
    owner.release();
    return parms;
}

std::unique_ptr<TIEPDFStreamObject> BilevelImage(TIEBitmap& bitmap, const TIOParamsVals& params,
                                                 bool& aborting) {
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    std::unique_ptr<TIEPDFStreamObject> image;
    const auto compression = params.PdfCompression;
    if (compression == pdfUncompressed) {
        image = std::make_unique<TIEPDFStreamObject>(BilevelRows(bitmap));
    } else if (compression == pdfRunLength) {
        // One block for the whole image, so runs cross row boundaries.
        const std::vector<std::uint8_t> rows = BilevelRows(bitmap);
        std::vector<std::uint8_t> encoded(RunLengthBound(rows.size()));
        encoded.resize(EncodeRunLength(rows.data(), rows.size(), encoded.data()));
        image = std::make_unique<TIEPDFStreamObject>(std::move(encoded));
        auto* filter = new TIEPDFArrayObject;
        image->Dictionary().Add("Filter", filter);
        filter->Add(Name("RunLengthDecode"));
    } else {
        // Group 3 for 3; Group 4 for 2 and for every value that names no 1-bit encoding (DCT and above).
        const bool group3 = compression == pdfGroup3;
        TMemoryStream coded;
        CcittState state;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = bitmap.RowPointer(y);
            if (group3)
                EncodeG3Row(row, width, coded, aborting, state);
            else
                EncodeG4Row(row, width, coded, aborting, state);
        }
        if (group3)
            EncodeG3Row(nullptr, 0, coded, aborting, state);
        else
            EncodeG4Row(nullptr, 0, coded, aborting, state);
        image = std::make_unique<TIEPDFStreamObject>(coded.TakeBytes());
        image->Dictionary().Add("Filter", Name("CCITTFaxDecode"));
        image->Dictionary().Add("DecodeParms", CcittDecodeParms(group3 ? 1 : -1, width, height));
    }
    image->Dictionary().Add("ColorSpace", Name("DeviceGray"));
    image->Dictionary().Add("BitsPerComponent", Number(1));
    return image;
}

std::unique_ptr<TIEPDFStreamObject> DctImage(std::vector<std::uint8_t> jpeg, TDctColourSpace space,
                                             const TIOParamsVals& params, TPdfPageStorage& storage) {
    auto image = std::make_unique<TIEPDFStreamObject>(std::move(jpeg));
    image->Dictionary().Add("Filter", Name("DCTDecode"));
    const bool gray = space == TDctColourSpace::Gray;
    image->Dictionary().Add("ColorSpace", Name(gray ? "DeviceGray" : "DeviceRGB"));
    image->Dictionary().Add("BitsPerComponent", Number(8));
    storage.Gray = gray;
    storage.DctQuality = params.JpegQuality;
    return image;
}

std::unique_ptr<TIEPDFStreamObject> ColourImage(TIEBitmap& bitmap, TIOParamsVals& params,
                                                TIEProgressRecord& progress, TPdfPageStorage& storage) {
    const auto compression = params.PdfCompression;
    if (compression == pdfFlate) {
        bool localAborting = false;
        bool& aborting = progress.Aborting ? *progress.Aborting : localAborting;
        TFlateColours kind = TFlateColours::Rgb;
        std::unique_ptr<TIEPDFStreamObject> image = FlateColourImage(bitmap, &kind, aborting);
        storage.Gray = kind == TFlateColours::Gray;
        storage.Indexed = kind == TFlateColours::Indexed;
        return image;
    }
    if (compression == pdfDct) {
        TMemoryStream jpeg;
        jpeg.Reserve(DctDataReservation(bitmap.Width(), bitmap.Height()));
        const TDctColourSpace space = EncodeDct(jpeg, bitmap, params, progress);
        return DctImage(jpeg.TakeBytes(), space, params, storage);
    }
    auto image = std::make_unique<TIEPDFStreamObject>(ColourRows(bitmap));
    image->Dictionary().Add("ColorSpace", Name("DeviceRGB"));
    image->Dictionary().Add("BitsPerComponent", Number(8));
    storage.Gray = false;
    return image;
}

// The coded data as it is, with the dictionary entries its filter and colours need.
std::unique_ptr<TIEPDFStreamObject> KeptImage(const TPdfCodedImage& kept) {
    auto image = std::make_unique<TIEPDFStreamObject>(kept.Data);
    TIEPDFDictionaryObject& dict = image->Dictionary();
    switch (kept.Filter) {
    case TCodedFilter::Dct:
        dict.Add("Filter", Name("DCTDecode"));
        if (kept.NoColourTransform) {
            auto* parms = new TIEPDFDictionaryObject;
            dict.Add("DecodeParms", parms);
            parms->Add("ColorTransform", Number(0));
        }
        break;
    case TCodedFilter::Flate:
        dict.Add("Filter", Name("FlateDecode"));
        if (kept.PredictorColors > 0)
            dict.Add("DecodeParms", PngPredictorParms(kept.PredictorColors, kept.Width));
        break;
    case TCodedFilter::CcittFax: {
        dict.Add("Filter", Name("CCITTFaxDecode"));
        dict.Add("DecodeParms", CcittDecodeParms(kept.CcittK, kept.Width, kept.Height, kept.BlackIs1,
                                                 kept.EncodedByteAlign));
        break;
    }
    }
    switch (kept.ColourSpace) {
    case TCodedColourSpace::Gray:
        dict.Add("ColorSpace", Name("DeviceGray"));
        break;
    case TCodedColourSpace::Rgb:
        dict.Add("ColorSpace", Name("DeviceRGB"));
        break;
    case TCodedColourSpace::Cmyk:
        dict.Add("ColorSpace", Name("DeviceCMYK"));
        break;
    case TCodedColourSpace::Indexed: {
        auto* space = new TIEPDFArrayObject;
        dict.Add("ColorSpace", space);
        space->Add(Name("Indexed"));
        space->Add(Name("DeviceRGB"));
        space->Add(Number(double(kept.Palette.size() / 3) - 1));
        space->Add(new TIEPDFStringObject(std::string(kept.Palette.begin(), kept.Palette.end())));
        break;
    }
    }
    dict.Add("BitsPerComponent", Number(kept.BitsPerComponent));
    if (kept.InvertedCmyk) {
        auto* decode = new TIEPDFArrayObject;
        dict.Add("Decode", decode);
        for (int i = 0; i < 4; ++i) {
            decode->Add(Number(1));
            decode->Add(Number(0));
        }
    }
    return image;
}

// Kept data stands in for the bitmap only when it has the bitmap's size and a form the page can show.
bool KeptFits(const TPdfCodedImage& kept, int width, int height) {
    if (kept.Width != width || kept.Height != height || kept.Data.empty()) return false;
    if (kept.ColourSpace == TCodedColourSpace::Indexed &&
        (kept.Palette.empty() || kept.Palette.size() > 768 || kept.Palette.size() % 3 != 0))
        return false;
    return true;
}

TPageCoding CodingOf(TPdfCompression compression, bool bilevel) {
    if (bilevel) {
        switch (compression) {
        case pdfUncompressed:
            return TPageCoding::Uncompressed;
        case pdfRunLength:
            return TPageCoding::RunLength;
        case pdfGroup3:
            return TPageCoding::Group3;
        default:
            return TPageCoding::Group4;
        }
    }
    switch (compression) {
    case pdfDct:
        return TPageCoding::Dct;
    case pdfFlate:
        return TPageCoding::Flate;
    default:
        return TPageCoding::Uncompressed;
    }
}

// size is the upright picture's size on the page; it hangs from the top-left corner.
std::string ContentText(TImageOrientation orientation, TIEFitSize size, std::int32_t pageHeight,
                        std::size_t pageNumber) {
    const std::int64_t bottom = std::int64_t(pageHeight) - size.H;
    return "q\n" + PlacementText(PlacementMatrix(orientation, size.W, size.H, 0, bottom)) + " cm\n/lm" +
           std::to_string(pageNumber) + " Do\nQ";
}

TIEPDFDictionaryObject& AsDictionary(TIEPDFObject* object) {
    auto* dict = dynamic_cast<TIEPDFDictionaryObject*>(object);
    if (!dict) throw EPlatformException("PDF document structure is damaged");
    return *dict;
}

// A cross-reference entry has room for ten digits.
std::string XrefEntry(std::int64_t position) {
    if (position < 0 || position > 9999999999LL) throw EWriteError("PDF document too large");
    char text[32];
    std::snprintf(text, sizeof text, "%010lld 00000 n \n", static_cast<long long>(position));
    return text;
}

void WriteDocument(TIEPDFBuilder& doc, TStream& output, const TIOParamsVals& params) {
    // Page tree, registered after the last page.
    auto* pages = RegisterObject(doc.ObjectList, new TIEPDFDictionaryObject);
    pages->Add("Type", Name("Pages"));
    auto* kids = new TIEPDFArrayObject;
    pages->Add("Kids", kids);
    for (TIEPDFPageObject* page : doc.PageList) {
        kids->Add(Ref(page));
        page->ParentNumber = pages->ObjectNumber;
    }
    pages->Add("Count", Number(static_cast<double>(doc.PageList.size())));
    AsDictionary(doc.ObjectList.front().get()).Add("Pages", Ref(pages));

    // The resources name each page's image only now, so a long document holds no entry per page
    // while it grows.
    TIEPDFDictionaryObject& resources = *doc.Resources;
    TIEPDFDictionaryObject& xobjects = AsDictionary(resources.ObjectAt(resources.IndexOf("XObject")));
    for (std::size_t i = 0; i < doc.ImageList.size(); ++i)
        xobjects.Add("lm" + std::to_string(i + 1), Ref(doc.ImageList[i]));

    auto* info = RegisterObject(doc.ObjectList, new TIEPDFDictionaryObject);
    const std::pair<const char*, const std::string*> texts[] = {
        {"Title", &params.PdfTitle},       {"Author", &params.PdfAuthor},   {"Subject", &params.PdfSubject},
        {"Keywords", &params.PdfKeywords}, {"Creator", &params.PdfCreator}, {"Producer", &params.PdfProducer},
    };
    for (const auto& [key, text] : texts)
        if (!text->empty()) info->Add(key, new TIEPDFStringObject(PdfTextStringBytes(*text)));
    info->Add("CreationDate", new TIEPDFStringObject(PdfDateText(DocumentTimeNow())));

    // Written once, in the order the spool was filled: its space can go as the document grows.
    doc.Spool->ReleaseAsCopied();
    for (const auto& spool : doc.PageSpools) spool->ReleaseAsCopied();
    // Everything up to the trailer is digested: the identifier follows the content, so equal
    // documents (with SOURCE_DATE_EPOCH, equal runs) get equal identifiers. A spooled object was
    // digested where it was spooled, on whichever thread made its page: its digest stands in for its
    // text, which goes from spool to output without passing through here.
    TDigestingOutput body(output);
    WriteLine(body, "%PDF-1.4");
    WriteLine(body, "%\xC8\xD2\xF0\xFE");
    for (const auto& object : doc.ObjectList) {
        const std::int64_t position = body.Position();
        WriteLine(body, std::to_string(object->ObjectNumber) + " 0 obj");
        if (const auto* spooled = dynamic_cast<const TIEPDFSpooledObject*>(object.get()))
            spooled->Spool.CopyTo(spooled->Range, body.Bypass(spooled->Range.Digest, spooled->Range.Length));
        else
            object->WriteTo(body);
        WriteText(body, "\n");
        WriteLine(body, "endobj");
        object->FilePosition = position;
    }

    const std::int64_t xref = body.Position();
    const std::string size = std::to_string(doc.ObjectList.size() + 1);
    WriteLine(body, "xref");
    WriteLine(body, "0 " + size);
    WriteLine(body, "0000000000 65535 f ");
    for (const auto& object : doc.ObjectList) WriteText(body, XrefEntry(object->FilePosition));
    // A new document's two identifiers are equal: the first names the document, the second this version.
    std::string id(1, '<'); // appended piece by piece: GCC 12 at -O3 misreads "<" + a temporary
    id += HexDigits(body.Finish());
    id += '>';
    // One write for the whole trailer.
    TDigestingOutput trailer(output);
    WriteLine(trailer, "trailer");
    WriteLine(trailer, "<< /Size " + size);
    WriteLine(trailer, "/Root 1 0 R");
    WriteLine(trailer, "/Info " + std::to_string(info->ObjectNumber) + " 0 R");
    WriteLine(trailer, "/ID [" + id + id + "]");
    WriteLine(trailer, ">>");
    WriteLine(trailer, "startxref");
    WriteLine(trailer, std::to_string(xref));
    WriteLine(trailer, "%%EOF");
    trailer.Finish();
}

// The entries every image XObject has, and what its data takes.
void DescribeImage(TIEPDFEncodedPage& page, int width, int height) {
    TIEPDFDictionaryObject& imageDict = page.Image->Dictionary();
    imageDict.Insert(0, "Type", Name("XObject"));
    imageDict.Insert(1, "Subtype", Name("Image"));
    imageDict.Add("Width", Number(width));
    imageDict.Add("Height", Number(height));
    page.Storage.ImageBytes = page.Image->DataLength();
}

// The image data stays as stored; the placement turns it upright and gives non-square pixels their
// physical shape, so data kept from the source file needs no re-encoding.
void PlacePage(TIEPDFEncodedPage& page, const TIOParamsVals& params, int width, int height) {
    const TUprightSize upright = UprightImageSize(params, width, height);
    page.Size = FitImage(upright.Width, upright.Height, params.PdfPaperWidth, params.PdfPaperHeight);
    page.Orientation = PageOrientation(params);
    page.PaperHeight = params.PdfPaperHeight;
    page.PaperWidth = params.PdfPaperWidth;
}
} // namespace

std::string PdfDateText(const TDocumentTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute,
                  t.Second);
    std::string s = text;
    if (t.Utc) return s + "Z";
    const int offset = t.UtcOffsetMinutes < 0 ? -t.UtcOffsetMinutes : t.UtcOffsetMinutes;
    std::snprintf(text, sizeof text, "%c%02d'%02d'", t.UtcOffsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return s + text;
}

std::unique_ptr<TIEPDFBuilder> CreatePdfDocument(const std::string& spoolFolder) {
    auto doc = std::make_unique<TIEPDFBuilder>();
    doc->Spool = std::make_unique<TIEPDFSpool>(spoolFolder);
    auto* catalog = RegisterObject(doc->ObjectList, new TIEPDFDictionaryObject);
    catalog->Add("Type", Name("Catalog"));

    auto* resources = new TIEPDFDictionaryObject;
    resources->Shared = true;
    RegisterObject(doc->ObjectList, resources);
    auto* procSet = new TIEPDFArrayObject;
    resources->Add("ProcSet", procSet);
    procSet->Add(Name("PDF"));
    procSet->Add(Name("ImageB"));
    resources->Add("XObject", new TIEPDFDictionaryObject);
    doc->Resources = resources;
    return doc;
}

TIEPDFEncodedPage EncodePdfPage(TIEBitmap& bitmap, TIOParamsVals& params, TIEProgressRecord& progress,
                                const TPdfCodedImage* kept) {
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (width <= 0 || height <= 0) {
        progress.Abort();
        return {};
    }
    const TIEPixelFormat type = bitmap.PixelType();
    if (type != ie1Bit && type != ie24Rgb)
        throw EPlatformException("PDF pages need an ie1Bit or ie24Rgb bitmap");

    bool localAborting = false;
    bool& aborting = progress.Aborting ? *progress.Aborting : localAborting;
    TIEPDFEncodedPage page;
    TPdfPageStorage& storage = page.Storage;
    if (kept && KeptFits(*kept, width, height)) {
        page.Image = KeptImage(*kept);
        storage.Coding = TPageCoding::Kept;
        storage.Origin = kept->Origin;
        storage.JoinedBlocks = kept->JoinedBlocks;
        storage.Gray = kept->ColourSpace == TCodedColourSpace::Gray;
        storage.Indexed = kept->ColourSpace == TCodedColourSpace::Indexed;
    } else {
        storage.Coding = CodingOf(params.PdfCompression, type == ie1Bit);
        page.Image = type == ie1Bit ? BilevelImage(bitmap, params, aborting)
                                    : ColourImage(bitmap, params, progress, storage);
    }
    DescribeImage(page, width, height);
    if (params.PdfKeepAlpha && bitmap.HasAlphaPlane() &&
        !AlphaPlaneOpaque(*bitmap.AlphaPlane(), width, height)) {
        page.SoftMask = SoftMaskImage(*bitmap.AlphaPlane(), width, height, aborting);
        storage.SoftMask = true;
        storage.ImageBytes += page.SoftMask->DataLength();
    }
    PlacePage(page, params, width, height);
    return page;
}

TIEPDFEncodedPage EncodedDctPage(std::vector<std::uint8_t> jpeg, TIOParamsVals& params, int width,
                                 int height) {
    TIEPDFEncodedPage page;
    page.Storage.Coding = CodingOf(pdfDct, false);
    page.Image = DctImage(std::move(jpeg), TDctColourSpace::Rgb, params, page.Storage);
    DescribeImage(page, width, height);
    PlacePage(page, params, width, height);
    return page;
}

void SpoolPageImage(TIEPDFEncodedPage& page, TIEPDFSpool& spool) {
    if (!page.Image || page.SoftMask || page.ImageSpool) return;
    const std::int64_t start = spool.Size();
    try {
        page.ImageRange = spool.Append(*page.Image);
    } catch (const EWriteError&) {
        spool.DropFrom(start);
        return;
    }
    page.ImageSpool = &spool;
    page.Image.reset();
}

TIEPDFSpool& AddPageSpool(TIEPDFBuilder& document) {
    document.PageSpools.push_back(std::make_unique<TIEPDFSpool>(document.Spool->Folder()));
    return *document.PageSpools.back();
}

void AddEncodedPage(TIEPDFBuilder& document, TIEPDFEncodedPage page) {
    if (!page.Image && !page.ImageSpool) return;
    const std::size_t pageNumber = document.ImageList.size() + 1;
    const std::string text = ContentText(page.Orientation, page.Size, page.PaperHeight, pageNumber);
    const std::unique_ptr<TIEPDFStreamObject> contentText =
        TIEPDFStreamObject::CreateWithData(text.data(), std::int64_t(text.size()));

    TIEPDFSpool& spool = *document.Spool;
    const std::int64_t spoolStart = spool.Size();
    TIEPDFSpoolRange maskRange, imageRange, contentRange;
    try {
        if (page.SoftMask) {
            // The mask is registered just before its image, so its number is known now.
            maskRange = spool.Append(*page.SoftMask);
            page.Image->Dictionary().Add(
                "SMask", new TIEPDFRefObject(static_cast<std::int32_t>(document.ObjectList.size() + 1), 0));
        }
        if (page.ImageSpool)
            imageRange = page.ImageRange;
        else
            imageRange = spool.Append(*page.Image);
        contentRange = spool.Append(*contentText);
    } catch (...) {
        spool.DropFrom(spoolStart); // a page is spooled whole or not at all
        throw;
    }
    page.Image.reset(); // its data lives in the spool now
    if (page.SoftMask) {
        page.SoftMask.reset();
        RegisterObject(document.ObjectList, new TIEPDFSpooledObject(spool, maskRange));
    }

    TIEPDFSpool& imageSpool = page.ImageSpool ? *page.ImageSpool : spool;
    auto* image = RegisterObject(document.ObjectList, new TIEPDFSpooledObject(imageSpool, imageRange));
    document.ImageList.push_back(image);
    auto* content = RegisterObject(document.ObjectList, new TIEPDFSpooledObject(spool, contentRange));
    document.ContentList.push_back(content);
    auto* pageObject = new TIEPDFPageObject;
    pageObject->ResourcesNumber = document.Resources->ObjectNumber;
    pageObject->PaperWidth = page.PaperWidth;
    pageObject->PaperHeight = page.PaperHeight;
    pageObject->ContentsNumber = content->ObjectNumber;
    RegisterObject(document.ObjectList, pageObject);
    document.PageList.push_back(pageObject);
}

TPdfPageStorage AddImagePage(TIEPDFBuilder& document, TIEBitmap& bitmap, TIOParamsVals& params,
                             TIEProgressRecord& progress, const TPdfCodedImage* kept) {
    TIEPDFEncodedPage page = EncodePdfPage(bitmap, params, progress, kept);
    const TPdfPageStorage storage = page.Storage;
    AddEncodedPage(document, std::move(page));
    return storage;
}

void WritePdfDocument(std::unique_ptr<TIEPDFBuilder>& document, TStream& output, TIOParamsVals& params) {
    if (!document) return;
    const std::unique_ptr<TIEPDFBuilder> doc = std::move(document); // freed on every path
    WriteDocument(*doc, output, params);
}

void WriteSinglePagePdf(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params,
                        TIEProgressRecord& progress) {
    std::unique_ptr<TIEPDFBuilder> doc = CreatePdfDocument();
    AddImagePage(*doc, bitmap, params, progress);
    WritePdfDocument(doc, output, params);
}

TIEFitSize FitImage(int imageWidth, int imageHeight, int pageWidth, int pageHeight) {
    // The products must be formed in the x87 80-bit format: with a 64-bit double, 1000 x 0.595 would
    // round up to 595 instead of truncating to 594.
    static_assert(std::numeric_limits<long double>::digits == 64, "needs 80-bit extended long double");
    if (imageWidth <= 0 || imageHeight <= 0) return {};
    const double sx = double(pageWidth) / double(imageWidth);
    const double sy = double(pageHeight) / double(imageHeight);
    const double s = sy < sx ? sy : sx;
    const auto scaled = [s](int n) {
        const long double product = std::truncl(static_cast<long double>(n) * static_cast<long double>(s));
        const long double lo = std::numeric_limits<int>::min();
        const long double hi = std::numeric_limits<int>::max();
        const int v = product < lo   ? std::numeric_limits<int>::min()
                      : product > hi ? std::numeric_limits<int>::max()
                                     : static_cast<int>(product);
        return v == 0 ? 1 : v;
    };
    return {scaled(imageWidth), scaled(imageHeight)};
}
