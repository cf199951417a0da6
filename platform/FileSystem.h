#pragma once
// File-system services: existence tests, folders, temporary files, whole-file copy.
#include <cstdint>
#include <string>

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates the folder with its parents; false when it cannot be created. An empty path fails.
bool ForceDirectories(const std::string& path);
bool DeleteFile(const std::string& path);
// Copies the whole file (replacing the destination); false on any failure.
bool CopyFileContents(const std::string& source, const std::string& destination);
// The system's temporary folder ($TMPDIR or /tmp), without a trailing "/".
std::string SystemTempFolder();
// Creates a new, empty file with a unique name "<folder>/<prefix>XXXXXX", exclusively; returns its
// path and leaves the file in place, or returns an empty text on failure.
std::string CreateUniqueTempFile(const std::string& folder, const std::string& prefix);

// Path helpers with "/" as the separator.
std::string ExtractFilePath(const std::string& path); // folder with trailing "/"
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path); // ".ext" or empty
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);
