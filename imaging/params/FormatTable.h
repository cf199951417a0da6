#pragma once
// The process-wide table of file formats, filled once on first use.
#include <cstdint>
#include <string>
#include <vector>

class TStream;
class TIEBitmap;
struct TIOParamsVals;
struct TIEProgressRecord;

using TIEReadFunction = void (*)(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool headerOnly,
                                 TIEProgressRecord& progress);
using TIEWriteFunction = void (*)(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params,
                                  TIEProgressRecord& progress);
using TIEDetectFunction = bool (*)(TStream& stream);

struct TIEFileFormatInfo {
    int FileType = 0;
    std::string FullName;   // at most 80 characters
    std::string Extensions; // upper case, ";"-separated
    std::uint16_t DialogPage = 0;
    TIEReadFunction ReadFunction = nullptr;
    TIEWriteFunction WriteFunction = nullptr;
    TIEDetectFunction DetectFunction = nullptr;
};

const std::vector<TIEFileFormatInfo>& FileFormatTable();
// Appends a format (the registered-format path of LoadFromFile reads through its read function).
void RegisterFileFormat(const TIEFileFormatInfo& info);
const TIEFileFormatInfo* FindFormatById(int id);
// Case-insensitive, extension without its dot; the first listed match wins.
const TIEFileFormatInfo* FindFormatByExtension(const std::string& extension);
// The first listed extension of an entry ("TIF" for TIFF), or empty.
std::string FirstExtension(const TIEFileFormatInfo& info);
