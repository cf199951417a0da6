#pragma once
// What the shell browser tells about one file: its info tip and its thumbnail, the latter through the
// freedesktop thumbnail cache ($XDG_CACHE_HOME/thumbnails, else ~/.cache/thumbnails; one PNG per file
// named after the MD5 of its URI, valid while its Thumb::MTime equals the file's modification time).
// Cache misses are filled with our own readers, never with the desktop's thumbnailers.
#include <QImage>

#include <atomic>
#include <cstdint>
#include <string>

class TIEBitmap;

// The info tip lines ("Type: ...", image lines, "Size: ...", "Modified: ...") joined by "\n"; empty
// when the path cannot be examined.
std::string FileInfoTip(const std::string& path);

// "file://" URI of an absolute path, as the cache names it.
std::string ThumbnailFileUri(const std::string& path);
// The cache folder ending in "thumbnails"; read from the environment at each call.
std::string ThumbnailCacheFolder();
// The edge of the cache size that serves a width x height request: 128 (normal), 256 (large),
// 512 (x-large) or 1024 (xx-large).
int ThumbnailBucketSize(int width, int height);
// The cache file of path for a bucket size.
std::string ThumbnailCacheFile(const std::string& path, int bucketSize);

// A cached thumbnail of path that is current and no larger than the bucket; null otherwise.
QImage ReadCachedThumbnail(const std::string& path, int bucketSize);
// A thumbnail fitting bucketSize x bucketSize (small images keep their size) made with our readers;
// null for files they cannot read completely.
QImage MakeThumbnail(const std::string& path, int bucketSize);
// Stores thumbnail for path: PNG with Thumb::URI, Thumb::MTime and Thumb::Size, mode 0600, written to
// a temporary name and renamed into place. Files inside the cache are never stored. False on failure.
bool WriteCachedThumbnail(const std::string& path, const QImage& thumbnail, int bucketSize);

// The thumbnail of a regular file fitting width x height (64 x 64 when either is not positive): from
// the cache, else made with our readers and stored. Null for anything else, for files the readers
// cannot read, and once cancelled (may be null) turns true.
QImage FileThumbnail(const std::string& path, int width, int height,
                     const std::atomic<bool>* cancelled = nullptr);

// The bitmap as an image, with its alpha plane when it has one. A bitmap with an edge above
// 2 x maxEdge is sampled (every k-th pixel of every k-th row, the smallest k that brings both edges
// within that), so huge images cost little. Null for an empty bitmap or one that cannot be held.
QImage BitmapToImage(TIEBitmap& bitmap, int maxEdge);
