#pragma once
// A colour page encoded to DCT while its file is decoded, so that no bitmap holds the whole picture:
// the page EncodePdfPage makes from a bitmap of the same rows, byte for byte.
//
// Another thread with nothing else to do may take over the encoding (AskForHelp, then Help): the
// rows still to come then pass to it in small batches while this one goes on decoding, and the page
// takes about half the time it had left.
#include "imaging/params/FormatEntry.h"
#include "pdf/PdfWriter.h"
#include "platform/Stream.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class TDctRowEncoder;

class TDctPageSink : public TRowSink {
public:
    TDctPageSink();
    // Waits for a helper to leave (Settle).
    ~TDctPageSink() override;
    TDctPageSink(const TDctPageSink&) = delete;
    TDctPageSink& operator=(const TDctPageSink&) = delete;

    // Takes the rows of colour pictures (the caller installs it for DCT pages only); a grey one is
    // left to the bitmap, since its page is a one-component image.
    bool Begin(TIOParamsVals& params, int width, int height) override;
    void Row(const std::uint8_t* bgr) override;

    // The rows have stopped coming, whether or not all came: waits until a helper has encoded the
    // rows it took and left. Call before Complete and Finish.
    void Settle();
    // Whether the rows came here rather than into the bitmap.
    bool Began() const { return FEncoder != nullptr; }
    // Whether a helper took over the encoding.
    bool Helped() const { return FSharing; }
    // Every row came, the encoder took them all, and some pixel has colour. Otherwise the page must be
    // made from a bitmap: a picture grey throughout is stored as a grey image, which only its last row
    // can tell, and a read or encoder failure is reported the way the bitmap's load reports it.
    bool Complete() const;
    // The page, once Complete (else none), with params as EncodePdfPage takes them; a fatal encoder
    // error raises EIEJpegException.
    TIEPDFEncodedPage Finish(TIOParamsVals& params);

    // From another thread, never blocking: whether that thread may encode the rows still to come. A
    // page not begun, nearly done or helped already says no. A yes must be followed by Help.
    bool AskForHelp();
    // On the thread AskForHelp said yes to: encodes the rows this thread hands over until they end.
    // Returns at once when the rows ended before the hand-over.
    void Help();

private:
    // The helper's side: batches of rows, filled here and encoded there.
    // None, then Reserved (AskForHelp), Asked (Help, its batches ready), and Sharing or Declined (this
    // thread's answer).
    enum class THelp { None, Reserved, Asked, Sharing, Declined };
    static constexpr int kBatchRows = 16;
    static constexpr std::size_t kBatches = 4;
    // Help is taken only while more rows than this are to come: fewer are done sooner on one thread.
    static constexpr int kRowsWorthHelp = 8 * kBatchRows;

    // The first row after a helper asked: hand over from now on, or decline.
    void StartSharing();
    void QueueRow(const std::uint8_t* bgr);
    // Hands the batch being filled to the helper; last: no more rows come.
    void Publish(bool last);
    void EncodeRow(const std::uint8_t* bgr);
    std::uint8_t* BatchRow(std::size_t batch, int row);

    TMemoryStream FData;
    std::unique_ptr<TDctRowEncoder> FEncoder;
    int FWidth = 0;
    int FHeight = 0;
    int FRows = 0;
    bool FColoured = false;
    bool FFailed = false; // the encoder's: written by whichever thread encodes

    std::atomic<bool> FAsked{false};     // a helper waits for the next row
    std::atomic<bool> FTakesHelp{false}; // begun, and rows enough left
    bool FSharing = false;               // this thread's view: rows go to the helper
    std::mutex FLock;
    std::condition_variable FChanged;
    THelp FHelp = THelp::None;          // guarded by FLock
    bool FHelperInside = false;         // guarded by FLock: the helper may still touch this sink
    std::vector<std::uint8_t> FBatches; // kBatches batches of kBatchRows rows
    std::size_t FPublished = 0;         // guarded by FLock: batches handed over
    std::size_t FEncoded = 0;           // guarded by FLock: batches the helper is done with
    int FLastRows = 0;                  // guarded by FLock: rows in the last batch, once published
    bool FEnded = false;                // guarded by FLock: the last batch is published
    int FFilling = 0;                   // rows in the batch being filled (this thread's)
};
