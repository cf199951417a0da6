#pragma once
// The preview of a file in the list: its info tip and its thumbnail (through the desktop's thumbnail
// cache, made with our readers on a miss). Made on a TPreviewThreads thread: it touches no widget.
#include "shell/preview/PreviewThreads.h"

// The thumbnail fits box (a null image for a file our readers cannot read); the tip is the file's
// info tip. Nothing but the tip once cancelled.
TPreviewResult MakeFilePreview(const std::string& path, QSize box, const std::atomic<bool>& cancelled);
