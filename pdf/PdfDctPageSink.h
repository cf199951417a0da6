#pragma once
// A colour page encoded to DCT while its file is decoded, so that no bitmap holds the whole picture:
// the page EncodePdfPage makes from a bitmap of the same rows, byte for byte.
#include "imaging/params/FormatEntry.h"
#include "pdf/PdfWriter.h"
#include "platform/Stream.h"

#include <cstdint>
#include <memory>

class TDctRowEncoder;

class TDctPageSink : public TRowSink {
public:
    TDctPageSink();
    ~TDctPageSink() override;
    TDctPageSink(const TDctPageSink&) = delete;
    TDctPageSink& operator=(const TDctPageSink&) = delete;

    // Takes the rows of colour pictures (the caller installs it for DCT pages only); a grey one is
    // left to the bitmap, since its page is a one-component image.
    bool Begin(TIOParamsVals& params, int width, int height) override;
    void Row(const std::uint8_t* bgr) override;

    // Whether the rows came here rather than into the bitmap.
    bool Began() const { return FEncoder != nullptr; }
    // Every row came, the encoder took them all, and some pixel has colour. Otherwise the page must be
    // made from a bitmap: a picture grey throughout is stored as a grey image, which only its last row
    // can tell, and a read or encoder failure is reported the way the bitmap's load reports it.
    bool Complete() const;
    // The page, once Complete (else none), with params as EncodePdfPage takes them; a fatal encoder
    // error raises EIEJpegException.
    TIEPDFEncodedPage Finish(TIOParamsVals& params);

private:
    TMemoryStream FData;
    std::unique_ptr<TDctRowEncoder> FEncoder;
    int FWidth = 0;
    int FHeight = 0;
    int FRows = 0;
    bool FColoured = false;
    bool FFailed = false;
};
