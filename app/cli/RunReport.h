#pragma once
// What folianto-convert says about a finished run, and the exit status it ends with.
#include "app/job/ConversionJob.h"

#include <string>

// Exit statuses, as the help text lists them.
enum TExitStatus : int {
    exitComplete = 0, // every input became its pages
    exitPartial = 1,  // the PDF was written, but inputs were skipped, pages lack part of their
                      // picture, or the run was stopped
    exitUsage = 2,    // bad usage or a refused output; nothing written
    exitFailed = 3,   // the run failed, or no page was converted; no file left
};

// "skipped scan.gif (frame 2): truncated LZW data" (frames counted from 1).
std::string SkippedLine(const TSkippedInput& skipped);
// "photo.jpg: data ends early, rows 812–3000 missing".
std::string NoteLine(const TPageNote& note);
// How a page was stored, for --verbose: "page 3: scan.tif (frame 2): G3 from TIFF strips (4 joined),
// 18342 bytes"; a page that was to keep its data and did not says why ("Flate; not kept: interlaced PNG").
std::string StoredLine(int pageNumber, const TPageStored& page);
// "2 of 5 pages kept their original data" (empty when no page was to keep it).
std::string KeptSummary(const TJobResult& result);

// The status of a run whose document was written: complete only when every input became its pages
// and no page lacks part of its picture. A resized page is still the whole picture.
TExitStatus WrittenRunStatus(const TJobResult& result);
