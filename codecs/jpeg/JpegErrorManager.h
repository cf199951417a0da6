#pragma once
// The libjpeg error handler shared by the JPEG reader and the DCT encoder. A fatal library error sets
// the caller's Aborting flag and jumps back to the glue call that entered the library, which raises
// EIEJpegException there: no C++ exception crosses libjpeg's frames. Warnings are counted.
#include "platform/Exceptions.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
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
    // Where a fatal error returns to: set by each glue call just before it enters the library.
    std::jmp_buf Jump{};
    // An exception raised by our own callbacks (the stream's reads and writes) inside a library call;
    // the glue raises it again once the library is left.
    std::exception_ptr Pending;
};

// Installs the handler operations; returns the record to store in cinfo.err.
jpeg_error_mgr* InitJpegErrorManager(TIEJpegErrorManager& manager, bool* aborting);
// The record behind a library object's err pointer.
TIEJpegErrorManager& JpegErrorManagerOf(j_common_ptr cinfo);
// For callbacks: keeps the exception being handled and leaves the library call at once. Call it after
// the catch block has ended, with nothing that has a destructor alive in the callback's frame.
void KeepJpegCallbackException(TIEJpegErrorManager& manager);
[[noreturn]] void LeaveJpegLibrary(TIEJpegErrorManager& manager);
// After a jump back: raises the callback's exception, else EIEJpegException with the message's text.
[[noreturn]] void RaiseJpegFailure(TIEJpegErrorManager& manager);
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
