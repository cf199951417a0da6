#include "codecs/jpeg/JpegErrorManager.h"

#include <string>
#include <utility>

#include <jerror.h>

TIEJpegErrorManager& JpegErrorManagerOf(j_common_ptr cinfo) {
    // Pub is the first member, so the library's pointer is the record's address.
    return *reinterpret_cast<TIEJpegErrorManager*>(cinfo->err);
}

void KeepJpegCallbackException(TIEJpegErrorManager& manager) {
    manager.Pending = std::current_exception();
}

void LeaveJpegLibrary(TIEJpegErrorManager& manager) {
    std::longjmp(manager.Jump, 1);
}

void RaiseJpegFailure(TIEJpegErrorManager& manager) {
    if (manager.Pending) {
        const std::exception_ptr pending = std::exchange(manager.Pending, nullptr);
        std::rethrow_exception(pending);
    }
    throw EIEJpegException(JpegMessageText(manager.Pub, manager.MessageCode));
}

namespace {
TIEJpegErrorManager& ManagerOf(j_common_ptr cinfo) {
    return JpegErrorManagerOf(cinfo);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    TIEJpegErrorManager& m = ManagerOf(cinfo);
    m.MessageCode = cinfo->err->msg_code;
    if (m.Aborting) *m.Aborting = true;
    LeaveJpegLibrary(m);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    TIEJpegErrorManager& m = ManagerOf(cinfo);
    m.MessageCode = cinfo->err->msg_code;
    if (level == -1) ++m.WarningCount;
}

void OutputMessage(j_common_ptr) {}

void FormatMessage(j_common_ptr, char* buffer) {
    if (buffer) buffer[0] = '\0';
}

void ResetErrorManager(j_common_ptr cinfo) {
    TIEJpegErrorManager& m = ManagerOf(cinfo);
    m.WarningCount = 0;
    m.MessageCode = 0;
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}
} // namespace

jpeg_error_mgr* InitJpegErrorManager(TIEJpegErrorManager& manager, bool* aborting) {
    jpeg_std_error(&manager.Pub); // the message table and trace level
    manager.Pub.error_exit = ErrorExit;
    manager.Pub.emit_message = EmitMessage;
    manager.Pub.output_message = OutputMessage;
    manager.Pub.format_message = FormatMessage;
    manager.Pub.reset_error_mgr = ResetErrorManager;
    manager.MessageCode = 0;
    manager.WarningCount = 0;
    manager.Aborting = aborting;
    return &manager.Pub;
}

std::string JpegMessageText(const jpeg_error_mgr& err, int code) {
    if (code <= 0 || code > err.last_jpeg_message || !err.jpeg_message_table || !err.jpeg_message_table[code])
        return "Corrupted";
    const std::string text = err.jpeg_message_table[code];
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            if (text[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            // Skip the conversion directive (flags, width, precision, length, conversion).
            std::size_t j = i + 1;
            while (j < text.size() &&
                   std::string("-+ #0123456789.hlLqjzt").find(text[j]) != std::string::npos)
                ++j;
            out += '?';
            i = j;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string_view JpegRefusalFor(int code) {
    switch (code) {
    case JERR_BAD_PRECISION:
        return "unsupported sample precision";
    case JERR_SOF_UNSUPPORTED:
        return "unsupported JPEG process";
    case JERR_NO_IMAGE:
        return "no image in the file";
    case JERR_OUT_OF_MEMORY:
        return "not enough memory for the image";
    case JERR_IMAGE_TOO_BIG:
    case JERR_WIDTH_OVERFLOW:
        return "invalid image size";
    default:
        return {};
    }
}
