#pragma once
// The run turns a TIFF named .fax, .g3n or .g3f into one page, its first frame, even when the file
// holds more; folianto-convert says so instead of dropping the rest without a word.
#include <string>

// True for the TIFF extensions that give one page (".fax", ".g3n", ".g3f", any case).
bool IsFirstFrameOnlyExtension(const std::string& path);
// "fax.fax: 4 frames, only the first becomes a page; name it .tif for all", or empty for fewer than
// two frames.
std::string FirstFrameOnlyNote(const std::string& path, int frames);
// Reads the file's header: the note for it, or empty.
std::string FirstFrameOnlyNote(const std::string& path);
