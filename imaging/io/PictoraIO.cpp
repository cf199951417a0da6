#include "imaging/io/PictoraIO.h"

#include "codecs/gif/GifComposition.h"
#include "imaging/bitmap/AlphaFlatten.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "pdf/PdfWriter.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"

namespace {
std::unique_ptr<TIEBitmap> NewOwnBitmap() {
    InstallDefaultDecoders(); // the parameter record takes the process-wide decoders at its reset
    return std::make_unique<TIEBitmap>();
}

} // namespace

TPictoraIO::TPictoraIO() : FOwnedBitmap(NewOwnBitmap()), FBitmap(FOwnedBitmap.get()), FParams(this) {}

TPictoraIO::~TPictoraIO() {
    try {
        ClosePdfFile();
    } catch (...) {
        // A destructor cannot report: the document is lost, as it would be on a crash.
    }
    if (FView && FViewRegistration >= 0) FView->RemoveBitmapChangeEvent(FViewRegistration);
}

// ---- attachment

void TPictoraIO::SetAttachedPictora(TIEView* view) {
    if (FView && FViewRegistration >= 0) FView->RemoveBitmapChangeEvent(FViewRegistration);
    FView = nullptr;
    FViewRegistration = -1;
    if (!view) {
        FOwnedBitmap = std::make_unique<TIEBitmap>();
        FBitmap = FOwnedBitmap.get();
        return;
    }
    FOwnedBitmap.reset();
    FView = view;
    FBitmap = view->IEBitmap();
    FViewRegistration = view->RegisterBitmapChangeEvent([this](bool detach) { ViewBitmapChanged(detach); });
}

void TPictoraIO::ViewBitmapChanged(bool detach) {
    if (detach) {
        // The view is going: fall back to an own bitmap so the component stays usable.
        FView = nullptr;
        FViewRegistration = -1;
        FOwnedBitmap = std::make_unique<TIEBitmap>();
        FBitmap = FOwnedBitmap.get();
        return;
    }
    if (FView) FBitmap = FView->IEBitmap();
}

TColor TPictoraIO::Background() const {
    return FView ? FView->Background : FBackground;
}

void TPictoraIO::SetBackground(TColor color) {
    if (!FView) FBackground = color;
}

bool TPictoraIO::OwnerBitmapSize(int& width, int& height) {
    if (!FBitmap) return false;
    width = FBitmap->Width();
    height = FBitmap->Height();
    return true;
}

bool TPictoraIO::OwnerViewDpi(int& x, int& y) {
    if (!FView) return false;
    x = FView->DpiX();
    y = FView->DpiY();
    return true;
}

// ---- shared steps

bool TPictoraIO::PrepareBitmap() {
    return FBitmap != nullptr;
}

void TPictoraIO::FinishWork() {
    if (OnProgress) OnProgress(this, 100);
    if (OnFinishWork) OnFinishWork(this);
}

void TPictoraIO::NotifyBitmapChanged() {
    if (!FView) return;
    FView->Update();
    if (FView->OnImageChange) FView->OnImageChange();
}

void TPictoraIO::ApplyDefaultDpi() {
    if (FParams.HorizontalDpi < 2) FParams.SetHorizontalDpi(DefaultDpiX);
    if (FParams.VerticalDpi < 2) FParams.SetVerticalDpi(DefaultDpiY);
}

// ---- PDF

void TPictoraIO::OpenPdfFile(const std::string& path) {
    // A document still open is abandoned: free it and close its stream before starting anew.
    FPdf.reset();
    FPdfStream.reset();
    Aborting = false;
    FPdfStream = std::make_unique<TFileStream>(path, fmCreate);
    // The spool goes beside the output: it takes the document's own disk, which it gives back as the
    // document is written, rather than a temporary folder that may be small or held in memory.
    const std::string folder = ExtractFilePath(path);
    FPdf = CreatePdfDocument(folder.empty() ? "." : folder);
}

void TPictoraIO::AddPdfPage() {
    AddPdfPage(nullptr);
}

void TPictoraIO::AddPdfPage(const TPdfCodedImage* kept) {
    FLastPageStorage = {};
    if (!PrepareBitmap() || !FPdf) return;
    PreparePageBitmap(*FBitmap, FParams.PdfKeepAlpha);
    Aborting = false;
    TIEProgressRecord progress = MakeProgress();
    FLastPageStorage = AddImagePage(*FPdf, *FBitmap, FParams, progress, kept);
}

int TPictoraIO::PdfPageCount() const {
    return FPdf ? static_cast<int>(FPdf->PageList.size()) : 0;
}

void TPictoraIO::ClosePdfFile() {
    if (FPdf) {
        std::unique_ptr<TFileStream> stream = std::move(FPdfStream);
        std::unique_ptr<TIEPDFBuilder> doc = std::move(FPdf);
        WritePdfDocument(doc, *stream, FParams);
        return;
    }
    FPdfStream.reset();
}

void TPictoraIO::AbandonPdfFile() {
    FPdf.reset();
    FPdfStream.reset();
}

void TPictoraIO::SavePdfStream(TStream& stream) {
    if (!PrepareBitmap()) return;
    PreparePageBitmap(*FBitmap, FParams.PdfKeepAlpha);
    Aborting = false;
    TIEProgressRecord progress = MakeProgress();
    WriteSinglePagePdf(stream, *FBitmap, FParams, progress);
    FinishWork();
}

void TPictoraIO::SavePdfFile(const std::string& path) {
    TFileStream file(path, fmCreate);
    SavePdfStream(file);
}
