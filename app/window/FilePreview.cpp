#include "app/window/FilePreview.h"

#include "shell/browser/ShellFileInfo.h"

#include <sys/stat.h>

TPreviewResult MakeFilePreview(const std::string& path, QSize box, const std::atomic<bool>& cancelled) {
    TPreviewResult result;
    result.Tip = FileInfoTip(path);
    int width = box.width(), height = box.height();
    if (width <= 0 || height <= 0) width = height = 64;
    struct stat st {};
    if (cancelled || path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return result;
    const int bucket = ThumbnailBucketSize(width, height);
    QImage image = ReadCachedThumbnail(path, bucket);
    if (image.isNull()) {
        image = MakeThumbnail(path, bucket);
        if (image.isNull() || cancelled) return result;
        WriteCachedThumbnail(path, image, bucket);
    }
    if (image.width() > width || image.height() > height)
        image = image.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    result.Image = image;
    return result;
}
