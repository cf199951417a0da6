#include "imaging/io/PictoraIO.h"

#include "imaging/bitmap/AlphaFlatten.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/io/GifComposition.h"
#include "imaging/io/IEView.h"
#include "imaging/io/Readers.h"
#include "imaging/params/FormatTable.h"
#include "pdf/PdfWriter.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Stream.h"
#include "platform/net/WebAddress.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {
std::unique_ptr<TIEBitmap> NewOwnBitmap() {
    InstallDefaultDecoders(); // the parameter record takes the process-wide decoders at its reset
    return std::make_unique<TIEBitmap>();
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool OneOf(const std::string& ext, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
}

constexpr std::string_view kFormatNotBuilt = "this image type is not part of this build";
constexpr std::string_view kNotAnImageType = "not a supported image file";
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

TIEProgressRecord TPictoraIO::MakeProgress() {
    return TIEProgressRecord(OnProgress, this, Aborting);
}

void TPictoraIO::MaskToAlpha(std::unique_ptr<TIEMask>& mask) {
    if (mask) {
        FBitmap->AlphaPlane()->AlphaFromMask(mask.get());
        mask.reset();
    }
}

void TPictoraIO::FailLoad(std::string_view reason) {
    Aborting = true;
    FLastLoad.Refusal = reason;
}

void TPictoraIO::KeepOutcome(const TIEProgressRecord& progress) {
    FLastLoad = progress.Outcome;
    if (Aborting || !FLastLoad.MissingRowsKnown()) return;
    const int last = std::min(FLastLoad.LastMissingRow, FBitmap->Height() - 1);
    if (FLastLoad.FirstMissingRow > last || FBitmap->Width() <= 0) return;
    // Rows the data never reached are no part of the picture: transparent, they show the paper.
    TIEBitmap* alpha = FBitmap->AlphaPlane();
    alpha->FillRectangle(0, FLastLoad.FirstMissingRow, FBitmap->Width() - 1, last, 0);
    alpha->FullyOpaque = false;
}

void TPictoraIO::AdjustDpi() {
    if (!AutoAdjustDPI) return;
    const int hd = FParams.HorizontalDpi, vd = FParams.VerticalDpi;
    if (hd == vd || hd <= 0 || vd <= 0) return;
    // Resampling belongs to image processing, which this system does not carry: the bitmap keeps its
    // pixels and only the recorded resolution is equalised, so nothing is distorted silently.
    if (FParams.ImageHeight < FParams.ImageWidth)
        FParams.SetVerticalDpi(hd);
    else
        FParams.SetHorizontalDpi(vd);
}

void TPictoraIO::RunReader(TStream& stream, int formatId, const TReader& reader) {
    Aborting = false;
    TIEProgressRecord progress = MakeProgress();
    FBitmap->DropAlphaPlane();
    std::unique_ptr<TIEMask> mask;
    reader(stream, *FBitmap, FParams, progress, mask, false);
    ApplyDefaultDpi();
    MaskToAlpha(mask);
    KeepOutcome(progress);
    AdjustDpi();
    FParams.FileFormat = formatId;
    if (FView) FView->SetDpi(FParams.HorizontalDpi, FParams.VerticalDpi);
    NotifyBitmapChanged();
}

void TPictoraIO::LoadFileWith(const std::string& path, int formatId, const TReader& reader) {
    BeginLoad();
    Aborting = true;
    if (!PrepareBitmap()) {
        FinishWork();
        return;
    }
    if (!reader) {
        FailLoad(kFormatNotBuilt);
        FinishWork();
        return;
    }
    FParams.ResetImageInfo();
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite);
    } catch (...) {
        FinishWork();
        throw;
    }
    RunReader(*file, formatId, reader);
    FParams.LoadedFileName = path;
    file.reset();
    FinishWork();
}

void TPictoraIO::LoadStreamWith(TStream& stream, int formatId, const TReader& reader) {
    BeginLoad();
    Aborting = true;
    if (!PrepareBitmap()) {
        FinishWork();
        return;
    }
    if (!reader) {
        FailLoad(kFormatNotBuilt);
        FinishWork();
        return;
    }
    FParams.ResetImageInfo();
    RunReader(stream, formatId, reader);
    FParams.LoadedFileName.clear();
    FinishWork();
}

// ---- entry points

void TPictoraIO::LoadJpegFile(const std::string& p) {
    LoadFileWith(p, ioJPEG, readers::Jpeg());
}
void TPictoraIO::LoadJpegStream(TStream& s) {
    LoadStreamWith(s, ioJPEG, readers::Jpeg());
}
void TPictoraIO::LoadPcxFile(const std::string& p) {
    LoadFileWith(p, ioPCX, readers::Pcx());
}
void TPictoraIO::LoadPcxStream(TStream& s) {
    LoadStreamWith(s, ioPCX, readers::Pcx());
}
void TPictoraIO::LoadBmpFile(const std::string& p) {
    LoadFileWith(p, ioBMP, readers::Bmp());
}
void TPictoraIO::LoadBmpStream(TStream& s) {
    LoadStreamWith(s, ioBMP, readers::Bmp());
}
void TPictoraIO::LoadIcoFile(const std::string& p) {
    LoadFileWith(p, ioICO, readers::Ico());
}
void TPictoraIO::LoadIcoStream(TStream& s) {
    LoadStreamWith(s, ioICO, readers::Ico());
}
void TPictoraIO::LoadCurFile(const std::string& p) {
    LoadFileWith(p, ioCUR, readers::Cur());
}
void TPictoraIO::LoadCurStream(TStream& s) {
    LoadStreamWith(s, ioCUR, readers::Cur());
}
void TPictoraIO::LoadTgaFile(const std::string& p) {
    LoadFileWith(p, ioTGA, readers::Tga());
}
void TPictoraIO::LoadTgaStream(TStream& s) {
    LoadStreamWith(s, ioTGA, readers::Tga());
}
void TPictoraIO::LoadPxmFile(const std::string& p) {
    LoadFileWith(p, ioPXM, readers::Pxm());
}
void TPictoraIO::LoadPxmStream(TStream& s) {
    LoadStreamWith(s, ioPXM, readers::Pxm());
}
void TPictoraIO::LoadWbmpFile(const std::string& p) {
    LoadFileWith(p, ioWBMP, readers::Wbmp());
}
void TPictoraIO::LoadWbmpStream(TStream& s) {
    LoadStreamWith(s, ioWBMP, readers::Wbmp());
}
// The JPEG 2000 entry points take the format from the extension, not from the content.
void TPictoraIO::LoadJp2File(const std::string& p) {
    LoadFileWith(p, ioJP2, readers::Jpeg2000());
}
void TPictoraIO::LoadJp2Stream(TStream& s) {
    LoadStreamWith(s, ioJP2, readers::Jpeg2000());
}
void TPictoraIO::LoadJ2kFile(const std::string& p) {
    LoadFileWith(p, ioJ2K, readers::Jpeg2000());
}
void TPictoraIO::LoadJ2kStream(TStream& s) {
    LoadStreamWith(s, ioJ2K, readers::Jpeg2000());
}

void TPictoraIO::LoadPngFile(const std::string& p) {
    TIERgbTriple fileBackground{};
    LoadFileWith(p, ioPNG, readers::Png(Background(), fileBackground));
    if (!Aborting) SetBackground(RGBColor(fileBackground.r, fileBackground.g, fileBackground.b));
}

void TPictoraIO::LoadPngStream(TStream& s) {
    TIERgbTriple fileBackground{};
    LoadStreamWith(s, ioPNG, readers::Png(Background(), fileBackground));
    if (!Aborting) SetBackground(RGBColor(fileBackground.r, fileBackground.g, fileBackground.b));
}

void TPictoraIO::LoadFromFile(const std::string& path) {
    if (!FBitmap) return;
    BeginLoad();
    if (path.empty()) {
        FailLoad("no file name");
        FinishWork();
        return;
    }
    if (IsWebAddress(path)) {
        LoadFromUrl(path);
        return;
    }
    const std::string ext = Lower(ExtractFileExt(path));
    if (OneOf(ext, {".jpg", ".jpeg", ".jpe"}))
        LoadJpegFile(path);
    else if (ext == ".jp2")
        LoadJp2File(path);
    else if (OneOf(ext, {".j2k", ".jpc", ".j2c"}))
        LoadJ2kFile(path);
    else if (ext == ".png")
        LoadPngFile(path);
    else if (OneOf(ext, {".tif", ".tiff", ".fax", ".g3n", ".g3f"}))
        LoadTiffFile(path);
    else if (ext == ".pcx")
        LoadPcxFile(path);
    else if (ext == ".gif")
        LoadGifFile(path);
    else if (OneOf(ext, {".wmf", ".emf"}))
        LoadMetafile(path, -1, true, -1);
    else if (OneOf(ext, {".bmp", ".dib", ".rle"}))
        LoadBmpFile(path);
    else if (ext == ".cur")
        LoadCurFile(path);
    else if (ext == ".ico")
        LoadIcoFile(path);
    else if (OneOf(ext, {".tga", ".targa", ".vda", ".icb", ".vst", ".win", ".pix"}))
        LoadTgaFile(path);
    else if (OneOf(ext, {".pxm", ".ppm", ".pgm", ".pbm"}))
        LoadPxmFile(path);
    else if (ext == ".wbmp")
        LoadWbmpFile(path);
    else
        LoadRegisteredFormat(path, ext);
}

void TPictoraIO::LoadRegisteredFormat(const std::string& path, const std::string& ext) {
    FParams.LoadedFileName.clear();
    FParams.FileFormat = 0;
    FParams.ResetImageInfo();
    const TIEFileFormatInfo* info = FindFormatByExtension(ext.empty() ? std::string() : ext.substr(1));
    // The built-in entries' read functions are markers: those formats are read by the entry points
    // above, so a marker reached here (.avi, .ps, an id without a dedicated entry) reads nothing.
    if (!info || !info->ReadFunction || info->FileType <= 18) {
        FailLoad(kNotAnImageType);
        FinishWork();
        return;
    }
    Aborting = true;
    if (!PrepareBitmap()) return;
    TFileStream file(path, fmOpenRead | fmShareDenyWrite);
    Aborting = false;
    TIEProgressRecord progress = MakeProgress();
    FParams.LoadedFileName = path;
    FParams.FileFormat = info->FileType;
    try {
        info->ReadFunction(file, *FBitmap, FParams, false, progress);
    } catch (...) {
        Aborting = true;
    }
    FLastLoad = progress.Outcome;
    if (!Aborting) {
        AdjustDpi();
        if (FView) FView->SetDpi(FParams.HorizontalDpi, FParams.VerticalDpi);
    }
    NotifyBitmapChanged();
    FinishWork();
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
