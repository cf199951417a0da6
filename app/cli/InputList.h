#pragma once
// The list of images a run converts: the FILE arguments, the paths of --from-file lists, and with
// --recursive the images found in folders.
#include "app/cli/CliOptions.h"

#include <istream>
#include <string>
#include <vector>

// The entries of a list file: one path per line (empty lines skipped), or with nulSeparated one path
// per NUL-terminated entry (the last one may lack its NUL). Bytes are kept as they are.
std::vector<std::string> SplitPathList(const std::string& data, bool nulSeparated);

// True when the file name's extension names a format the converter reads (".tif", ".JPG", ...).
bool HasImageExtension(const std::string& path);

// The image files under folder and its subfolders: each folder's entries in natural order, a
// subfolder's images where the subfolder sorts. Hidden entries (".name") and symbolic links to
// folders are passed over. False with a message when a folder cannot be read.
bool ImagesInFolder(const std::string& folder, std::vector<std::string>& images, std::string& error);

// Builds the run's list from the options; standardInput serves a list named "-". False with a
// message naming the path and the fix when the list cannot be built (a folder without --recursive,
// an unreadable list file, nothing to convert).
bool BuildInputList(const TCliOptions& options, std::istream& standardInput, std::vector<std::string>& paths,
                    std::string& error);
