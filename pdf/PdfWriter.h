#pragma once
// The PDF 1.4 document writer: one page per bitmap, each image scaled to fit its page and hung from
// the top-left corner. The document stays in memory until WritePdfDocument writes it in one pass.
#include "pdf/PdfObjects.h"

#include <string>

#include <memory>
#include <vector>

class TStream;
class TIEBitmap;
struct TIOParamsVals;
struct TIEProgressRecord;

// The document under construction. Object 1 is the catalog, 2 the shared resources; page k adds its
// image stream, content stream and page dictionary as objects 3k, 3k + 1 and 3k + 2.
struct TIEPDFBuilder {
    TIEPDFObjectList ObjectList;                   // owns every registered object
    std::vector<TIEPDFDictionaryObject*> PageList; // page dictionaries, in page order
    std::vector<TIEPDFStreamObject*> ImageList;    // image streams, in page order
    std::vector<TIEPDFStreamObject*> ContentList;  // content streams, in page order
    TIEPDFDictionaryObject* Resources = nullptr;   // ProcSet and XObject, shared by every page
};

// A new document holding the catalog and the resources dictionary.
std::unique_ptr<TIEPDFBuilder> CreatePdfDocument();

// Adds the bitmap as the next page, sized by PdfPaperWidth and PdfPaperHeight and compressed by
// PdfCompression (0 none, 1 run length, 2 CCITT G4, 3 CCITT G3, 4 DCT). An ie1Bit bitmap gives a
// 1-bit page (none, run length, G3, or G4 for 2 and everything above 3), an ie24Rgb one a colour page
// (DCT for 4, /DeviceGray when every pixel is grey; uncompressed otherwise). What params says of the
// image (resolution, JPEG markers, orientation) must describe this bitmap: the image data is kept as
// stored, and the placement turns it upright when PdfAutoOrient asks for it and gives pixels of
// unequal resolutions their physical proportions (see PageGeometry.h). A bitmap of zero width or height adds
// no page and sets Aborting; other pixel types raise EPlatformException. Encoder failures set
// Aborting and the page is added with what the encoder produced; a fatal JPEG error raises
// EIEJpegException and adds nothing.
void AddImagePage(TIEPDFBuilder& document, TIEBitmap& bitmap, TIOParamsVals& params,
                  TIEProgressRecord& progress);

// Completes the page tree and information dictionary (PdfTitle... PdfProducer, CreationDate from
// DocumentTimeNow), writes the whole file into output and frees the document (document becomes null).
// The trailer's ID pair is the MD5 of every byte before the trailer. Nothing happens without a
// document. A short write raises EWriteError, after the document is freed.
void WritePdfDocument(std::unique_ptr<TIEPDFBuilder>& document, TStream& output, TIOParamsVals& params);

struct TDocumentTime;
// A PDF date: "D:" and 14 digits, then the UTC offset as +HH'mm' or -HH'mm', or "Z" for UTC fields.
std::string PdfDateText(const TDocumentTime& time);

// CreatePdfDocument, AddImagePage and WritePdfDocument in one call.
void WriteSinglePagePdf(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params,
                        TIEProgressRecord& progress);

struct TIEFitSize {
    int W = 0;
    int H = 0;
    bool operator==(const TIEFitSize&) const = default;
};
// The image's size on the page: the image scaled by the smaller of the two page/image quotients (each
// a 64-bit float), products formed in 80-bit extended precision and truncated, each raised to 1 when
// it comes out 0. {0, 0} for an image without pixels.
TIEFitSize FitImage(int imageWidth, int imageHeight, int pageWidth, int pageHeight);
