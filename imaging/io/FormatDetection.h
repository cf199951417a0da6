#pragma once
// Format detection by content.
#include <string>

class TStream;

// The format id of the data at the stream's position, or 0. The position is restored; never raises.
int DetectStreamFormat(TStream& stream);
// Opens the file and detects its format (0 when it cannot be opened). With checkExtension the result
// must agree with the extension (icons and cursors take the extension's id).
int DetectFileFormat(const std::string& path, bool checkExtension);
bool IsAviStream(TStream& stream);
