#pragma once
// TPictoraIO: reads image files into one current bitmap and writes PDF documents from it.
#include "imaging/params/FormatIds.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "pdf/PdfCodedImage.h"
#include "platform/Colors.h"
#include "platform/net/HttpClient.h"

#include <functional>
#include <memory>
#include <string>

class TIEBitmap;
class TIEMask;
class TIEView;
class TStream;
class TFileStream;
class TMemoryStream;
struct TIEPDFBuilder;
struct TGifComposition;
struct TFormatEntry;
struct TReadContext;
class TRowSink;
struct TIEFileFormatInfo;

class TPictoraIO : public TIOParamsOwner {
public:
    TPictoraIO();
    ~TPictoraIO() override;
    TPictoraIO(const TPictoraIO&) = delete;
    TPictoraIO& operator=(const TPictoraIO&) = delete;

    // The current bitmap: the own one, or the attached view's.
    TIEBitmap* IEBitmap() { return FBitmap; }
    TIOParamsVals& Params() { return FParams; }
    bool OwnsBitmap() const { return FOwnedBitmap != nullptr; }

    TIEView* AttachedPictora() const { return FView; }
    void SetAttachedPictora(TIEView* view);
    TColor Background() const;
    void SetBackground(TColor color);
    bool NativePixelFormat() const { return FParams.NativePixelFormat; }
    void SetNativePixelFormat(bool value) { FParams.NativePixelFormat = value; }

    bool Aborting = false;
    TIEProgressEvent OnProgress;
    std::function<void(TPictoraIO*)> OnFinishWork;
    bool StreamHeaders = false;
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;
    // When set, a single image whose reader can hand its rows over sends them here instead of into
    // the bitmap, which stays empty; Begin sees the parameters as the finished load leaves them.
    TRowSink* RowSink = nullptr;

    // Loading by extension; the outcome is in Aborting, LastLoad and the parameters.
    void LoadFromFile(const std::string& path);
    // How the last load ended beyond Aborting: why it gave no image, or which rows its data did not
    // reach (those rows are transparent in the bitmap, so they land as paper on a page).
    const TIELoadOutcome& LastLoad() const { return FLastLoad; }
    // Loading by content.
    void LoadFromStream(TStream& stream);

    // Web addresses (http:// and https://). The proxy, "host:port", is used when set, with the two
    // credentials; otherwise the connection is direct.
    std::string WebProxy;
    std::string WebUserName;
    std::string WebPassword;
    // The bounds of a download: body cap, time-outs, redirects.
    THttpLimits DownloadLimits;
    // Asked several times a second while a download runs; false stops it (the run's stop request;
    // the window also keeps itself alive here).
    std::function<bool()> DownloadContinue;
    // Downloads the address and loads the image it holds, by content. A failed download, an error
    // status or data that is no image sets Aborting with the reason in LastLoad.
    void LoadFromUrl(const std::string& url);
    // Only the download, for callers that read frames from it: the body in body from position 0, or
    // false with Aborting set and the reason in LastLoad. contentType, when given, receives the
    // server's word for what it sent.
    bool DownloadUrl(const std::string& url, TMemoryStream& body, std::string* contentType = nullptr);

    // Frame loads: the number of frames in the file (0 when it is not of that format).
    int LoadTiffFile(const std::string& path);
    int LoadTiffStream(TStream& stream);
    int LoadGifFile(const std::string& path);
    int LoadGifStream(TStream& stream);
    // key names the animation, so that a later frame continues the composition of an earlier one
    // instead of composing again from the first (empty: no continuation).
    int LoadGifStream(TStream& stream, const std::string& key);

    void LoadJpegFile(const std::string& path);
    void LoadJpegStream(TStream& stream);
    void LoadPcxFile(const std::string& path);
    void LoadPcxStream(TStream& stream);
    void LoadBmpFile(const std::string& path);
    void LoadBmpStream(TStream& stream);
    void LoadIcoFile(const std::string& path);
    void LoadIcoStream(TStream& stream);
    void LoadCurFile(const std::string& path);
    void LoadCurStream(TStream& stream);
    void LoadPngFile(const std::string& path);
    void LoadPngStream(TStream& stream);
    void LoadTgaFile(const std::string& path);
    void LoadTgaStream(TStream& stream);
    void LoadPxmFile(const std::string& path);
    void LoadPxmStream(TStream& stream);
    void LoadWbmpFile(const std::string& path);
    void LoadWbmpStream(TStream& stream);
    void LoadJp2File(const std::string& path);
    void LoadJp2Stream(TStream& stream);
    void LoadJ2kFile(const std::string& path);
    void LoadJ2kStream(TStream& stream);
    // Renders a WMF or EMF file; negative sizes follow the picture's own proportions.
    void LoadMetafile(const std::string& path, int width, bool alpha, int height);

    // Header-only reads and detection by content.
    void ReadParamsFromStream(TStream& stream);
    void ReadParamsFromFile(const std::string& path);

    // PDF document, one at a time.
    void OpenPdfFile(const std::string& path);
    void AddPdfPage();
    // kept: coded data that shows exactly the current bitmap (see AddImagePage).
    void AddPdfPage(const TPdfCodedImage* kept);
    // How the last page added was stored.
    const TPdfPageStorage& LastPdfPageStorage() const { return FLastPageStorage; }
    void ClosePdfFile();
    bool PdfDocumentOpen() const { return FPdf != nullptr; }
    // Pages the open document holds (0 without one).
    int PdfPageCount() const;
    // Frees an open document without writing it and closes its file.
    void AbandonPdfFile();
    void SavePdfFile(const std::string& path);
    void SavePdfStream(TStream& stream);

    bool PrepareBitmap();
    virtual void FinishWork();
    void NotifyBitmapChanged();
    void ApplyDefaultDpi();

    // TIOParamsOwner
    bool OwnerBitmapSize(int& width, int& height) override;
    bool OwnerViewDpi(int& x, int& y) override;

private:
    class TLoadScope;
    friend class TLoadScope;

    void ViewBitmapChanged(bool detach);
    // The one load routine: opens the file (or takes the stream), reads the image of format id into
    // the current bitmap and ends with the after-read step; the file's frame count, or 0.
    int LoadFile(const std::string& path, TIOFileFormat id);
    int LoadStream(TStream& stream, TIOFileFormat id, const std::string& animationKey = {});
    int LoadWith(TStream& stream, const TFormatEntry& format, const std::string& fileName,
                 const std::string& animationKey);
    void ReadImage(TStream& stream, const TFormatEntry& format, TReadContext& context,
                   TIEProgressRecord& progress);
    void ReadAnimation(TStream& stream, const TFormatEntry& format, TReadContext& context,
                       TIEProgressRecord& progress, const std::string& key);
    // What every read ends with, whatever its format.
    void AfterRead(const TFormatEntry& format, const TReadContext& context, const TIEProgressRecord& progress,
                   const std::string& fileName);
    void LoadRegisteredFormat(TStream& stream, const TIEFileFormatInfo& info, const std::string& fileName);
    // Ends a load of data no reader knows.
    void RefuseFormat();
    void AdjustDpi();
    void MaskToAlpha(TIEBitmap& bitmap, std::unique_ptr<TIEMask>& mask);
    TIEProgressRecord MakeProgress();
    void FailLoad(std::string_view reason);
    // Keeps the reader's outcome and makes the rows its data did not reach transparent.
    void KeepOutcome(const TIEProgressRecord& progress, bool clearMissingRows);

    std::unique_ptr<TIEBitmap> FOwnedBitmap;
    TIEBitmap* FBitmap = nullptr;
    TIEView* FView = nullptr;
    int FViewRegistration = -1;
    TIOParamsVals FParams;
    TIELoadOutcome FLastLoad;
    int FLoadDepth = 0; // loads in progress: a web address loads its stream inside its own load
    TPdfPageStorage FLastPageStorage;
    TColor FBackground = clBlack;
    std::unique_ptr<TFileStream> FPdfStream;
    std::unique_ptr<TIEPDFBuilder> FPdf;
    std::unique_ptr<TGifComposition> FGifComposition;
};

// Installs the built-in LZW decoders as the process-wide defaults (idempotent).
void InstallDefaultDecoders();
