#pragma once
// The PDF 1.4 document writer: one page per bitmap, each image scaled to fit its page and hung from
// the top-left corner. The document is written in one pass by WritePdfDocument; until then its
// pages' streams wait in a spool on disk.
#include "imaging/params/PageGeometry.h"
#include "imaging/params/PdfCompression.h"
#include "pdf/PdfCodedImage.h"
#include "pdf/PdfObjects.h"
#include "pdf/PdfPageObject.h"
#include "pdf/PdfSpool.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TStream;
class TIEBitmap;
struct TIOParamsVals;
struct TIEProgressRecord;

struct TIEFitSize {
    int W = 0;
    int H = 0;
    bool operator==(const TIEFitSize&) const = default;
};

// The document under construction. Object 1 is the catalog, 2 the shared resources; page k adds its
// image stream, content stream and page dictionary as objects 3k, 3k + 1 and 3k + 2 (a page image
// with a soft mask registers the mask first, which moves the numbers of the pages after it). Image and
// content streams go to a spool as their page is added, or before (SpoolPageImage): memory holds a few
// numbers per page.
struct TIEPDFBuilder {
    std::unique_ptr<TIEPDFSpool> Spool;            // the text of every image and content stream
    TIEPDFObjectList ObjectList;                   // owns every registered object
    std::vector<TIEPDFPageObject*> PageList;       // page dictionaries, in page order
    std::vector<TIEPDFSpooledObject*> ImageList;   // image streams, in page order
    std::vector<TIEPDFSpooledObject*> ContentList; // content streams, in page order
    TIEPDFDictionaryObject* Resources = nullptr;   // ProcSet and XObject, shared by every page
    // More image text, spooled by the threads that made the pages (AddPageSpool).
    std::vector<std::unique_ptr<TIEPDFSpool>> PageSpools;
};

// A new document holding the catalog and the resources dictionary, with its spool in spoolFolder
// (the temporary folder when empty or unusable). Raises EFOpenError when no spool can be created.
std::unique_ptr<TIEPDFBuilder> CreatePdfDocument(const std::string& spoolFolder = {});

// One more spool of the document, in its spool's folder, for one thread that makes pages to spool
// them itself (SpoolPageImage) while the document takes pages from others. Raises EFOpenError.
TIEPDFSpool& AddPageSpool(TIEPDFBuilder& document);

// A page encoded apart from any document, ready to be added as the next page of one.
struct TIEPDFEncodedPage {
    std::unique_ptr<TIEPDFStreamObject> Image;    // the image XObject, data included; none: no page
    std::unique_ptr<TIEPDFStreamObject> SoftMask; // the image's soft mask, when it has one
    TIEFitSize Size;                              // the upright picture's size on the page
    TImageOrientation Orientation = TImageOrientation::TopLeft; // how the placement turns the image
    std::int32_t PaperHeight = 0;
    std::int32_t PaperWidth = 0;
    TPdfPageStorage Storage; // how the image was stored
    // Where SpoolPageImage put the image, which Image then no longer holds; none while Image does.
    TIEPDFSpool* ImageSpool = nullptr;
    TIEPDFSpoolRange ImageRange;
};

// Encodes the bitmap as a page sized by PdfPaperWidth and PdfPaperHeight and compressed by
// PdfCompression (TPdfCompression). An ie1Bit bitmap gives a 1-bit page (none, run length, G3, or G4
// for 2 and everything above 3), an ie24Rgb one a colour page (DCT for 4, /DeviceGray when every
// pixel is grey; Flate for 5, in one grey channel or palette indexes when the pixels allow it;
// uncompressed otherwise). What params says of the image (resolution, JPEG markers, orientation) must
// describe this bitmap: the image data is kept as stored, and the placement turns it upright when
// PdfAutoOrient asks for it and gives pixels of unequal resolutions their physical proportions (see
// PageGeometry.h). Touches no document. A bitmap of zero width or height gives no page and sets Aborting;
// other pixel types raise EPlatformException. Encoder failures set Aborting and give the page with what the
// encoder produced; a fatal JPEG error raises EIEJpegException. kept: when given and of the bitmap's size,
// its data is the page image instead of the bitmap's pixels; the caller promises they show the same picture.
// PdfKeepAlpha: a bitmap with an alpha plane that is not wholly opaque gets a soft mask.
TIEPDFEncodedPage EncodePdfPage(TIEBitmap& bitmap, TIOParamsVals& params, TIEProgressRecord& progress,
                                const TPdfCodedImage* kept = nullptr);

// The colour page EncodePdfPage makes of an ie24Rgb bitmap of width x height with DCT compression,
// from the finished data stream its rows were encoded into (TDctRowEncoder, not grey) instead of the
// bitmap; params as EncodePdfPage takes them.
TIEPDFEncodedPage EncodedDctPage(std::vector<std::uint8_t> jpeg, TIOParamsVals& params, int width,
                                 int height);

// Adds an encoded page (none: nothing) as the document's next page; its streams go to the spool. When
// the spool cannot take them, EWriteError names the spool's folder and the document is unchanged.
void AddEncodedPage(TIEPDFBuilder& document, TIEPDFEncodedPage page);

// Moves the page's image text into spool (one of the document's page spools) now, on the thread that
// made the page, so that adding the page writes no image data. A spool gives its disk space back as the
// document is written when its pages are added in the order they went in. An image with a soft mask
// stays: it names the mask by a number only the document gives. When the spool cannot take the image, the
// page stays as it was, for the document's own spool to take or to fail on.
void SpoolPageImage(TIEPDFEncodedPage& page, TIEPDFSpool& spool);

// EncodePdfPage, then AddEncodedPage; returns how the image was stored.
TPdfPageStorage AddImagePage(TIEPDFBuilder& document, TIEBitmap& bitmap, TIOParamsVals& params,
                             TIEProgressRecord& progress, const TPdfCodedImage* kept = nullptr);

// Completes the page tree and information dictionary (PdfTitle... PdfProducer, CreationDate from
// DocumentTimeNow), writes the whole file into output, copying the streams from the spool, and frees
// the document (document becomes null) with its spool. The trailer's ID pair is the MD5 of every byte
// before the trailer. Nothing happens without a document. A short write raises EWriteError, after
// the document is freed.
void WritePdfDocument(std::unique_ptr<TIEPDFBuilder>& document, TStream& output, TIOParamsVals& params);

struct TDocumentTime;
// A PDF date: "D:" and 14 digits, then the UTC offset as +HH'mm' or -HH'mm', or "Z" for UTC fields.
std::string PdfDateText(const TDocumentTime& time);

// CreatePdfDocument, AddImagePage and WritePdfDocument in one call.
void WriteSinglePagePdf(TStream& output, TIEBitmap& bitmap, TIOParamsVals& params,
                        TIEProgressRecord& progress);

// The image's size on the page: the image scaled by the smaller of the two page/image quotients (each
// a 64-bit float), products formed in 80-bit extended precision and truncated, each raised to 1 when
// it comes out 0. {0, 0} for an image without pixels.
TIEFitSize FitImage(int imageWidth, int imageHeight, int pageWidth, int pageHeight);
