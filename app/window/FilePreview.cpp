#include "app/window/FilePreview.h"

#include "shell/browser/ShellFileInfo.h"

TPreviewResult MakeFilePreview(const std::string& path, QSize box, const std::atomic<bool>& cancelled) {
    TPreviewResult result;
    result.Tip = FileInfoTip(path);
    result.Image = FileThumbnail(path, box.width(), box.height(), &cancelled);
    return result;
}
