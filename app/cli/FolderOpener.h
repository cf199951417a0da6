#pragma once
// Opens a folder in the desktop's file manager through xdg-open, found on PATH.
#include <string>

// Starts the opener with the folder as its one argument, never through a shell, so any name (quotes,
// semicolons, a leading "-") reaches it unchanged; a relative folder is made absolute first. The
// opener's own output is discarded: standard output may carry the document. Does not wait for it.
// False with the reason when it could not be started.
bool OpenFolder(const std::string& folder, std::string& error);
