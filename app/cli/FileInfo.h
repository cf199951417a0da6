#pragma once
// folianto-convert --info: what each file is, as the converter would read it.
#include <cstdio>
#include <string>
#include <vector>

// The format's short name ("JPEG", "TIFF", "JPEG 2000"), or empty for an unknown id.
std::string FormatShortName(int formatId);

// Describes each file on out; problems ("cannot open: No such file or directory", "not an image")
// go to err. Returns 0 when every file is an image the converter reads, else 1.
int DescribeFiles(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err);
