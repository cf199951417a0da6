#pragma once
// The formats this build reads, one row each in the format table's order: the reader behind every load
// and header read of the format, and what sets the format apart in a load. Each codec describes its
// own row (imaging/params/FormatEntry.h); names and extensions are the format table's
// (imaging/params/FormatTable.h).
#include "imaging/params/FormatEntry.h"

#include <string>

// The entry of a format id this build reads, or null (WMF and EMF are played from their file, not
// read from a stream).
const TFormatEntry* ReadableFormat(int id);
// The images in a file of the given format (frames of a TIFF or GIF, images of an icon); 1 for a
// one-image format, 0 when the file cannot be read.
int CountImagesInFile(const std::string& path, int id);
