#pragma once
// What the open dialog's panel shows for one file, made without touching a widget so that it can be
// made on a preview thread while the dialog goes on answering the user.
#include "imaging/params/ProgressRecord.h"
#include "shell/opendialog/OpenDialogTexts.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TIEView;

// The dialog's settings at the moment the file was selected.
struct TDialogPreviewRequest {
    bool Decode = true; // false: the header only (the preview box is unticked)
    bool ShowAllFrames = false;
    int ViewWidth = 0, ViewHeight = 0; // large JPEG files are decoded reduced to this
    bool AutoAdjustDPI = false;
    bool FilteredAdjustDPI = false;
    TMsgLanguage Language = msSystem;
};

struct TDialogFrame {
    QImage Thumbnail; // already fitted to the thumbnail size
    int DelayMs = 0;
};

struct TDialogPreview {
    enum class TKind {
        Nothing,     // no readable file: the panel is emptied
        Information, // the header only
        Image,       // one picture in the preview view
        Frames,      // the frames of a multi-frame file as thumbnails
    };
    TKind Kind = TKind::Nothing;
    std::int64_t FileSize = 0;
    int FrameCount = 0;
    TPreviewInfoTexts Texts;
    std::unique_ptr<TIEView> View; // Image: the decoded picture; its I/O component holds the load
    std::vector<TDialogFrame> Frames;
    bool FramesAreGif = false;

    TDialogPreview();
    ~TDialogPreview();
    TDialogPreview(TDialogPreview&&) noexcept;
    TDialogPreview& operator=(TDialogPreview&&) noexcept;
};

// Thumbnails loaded for a multi-frame file; the frame count shown is still the file's own.
inline constexpr int kMaxThumbnailFrames = 64;

// Reads path for the panel. Gives up with Kind Nothing once cancelled turns true; progress (may be
// empty) hears the load's percentages. Never raises for a file it cannot read.
TDialogPreview MakeDialogPreview(const std::string& path, const TDialogPreviewRequest& request,
                                 const std::atomic<bool>& cancelled, const TIEProgressEvent& progress = {});
