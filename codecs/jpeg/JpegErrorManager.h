#pragma once
// The libjpeg error handler shared by the JPEG reader and the DCT encoder. A fatal library error sets
// the caller's Aborting flag and leaves the library call as EIEJpegException; warnings are counted.
#include "platform/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include <jpeglib.h>

class EIEJpegException : public EPlatformException {
public:
    using EPlatformException::EPlatformException;
};

struct TIEJpegErrorManager {
    jpeg_error_mgr Pub{}; // the library's five handler operations
    int MessageCode = 0;  // the library's current message code
    std::uint32_t WarningCount = 0;
    bool* Aborting = nullptr; // the caller's flag (may be null)
};

// Installs the handler operations; returns the record to store in cinfo.err.
jpeg_error_mgr* InitJpegErrorManager(TIEJpegErrorManager& manager, bool* aborting);
// The library's standard text for a message code, every parameter shown as "?";
// "Corrupted" for a code outside the table.
std::string JpegMessageText(const jpeg_error_mgr& err, int code);
// A reader's reason for a fatal message code that says more than "damaged"; empty for the others.
std::string_view JpegRefusalFor(int code);

// The DCT method a parameter code asks for (0 accurate integer, 1 fast integer, 2 floating point);
// other codes keep the library's default. Shared by the reader and the encoder.
inline void ApplyJpegDctMethod(int code, J_DCT_METHOD& method) {
    switch (code) {
    case 0:
        method = JDCT_ISLOW;
        break;
    case 1:
        method = JDCT_IFAST;
        break;
    case 2:
        method = JDCT_FLOAT;
        break;
    default:
        break;
    }
}
