#pragma once
// What the window says about a conversion run: the status line while a page is made, and the report
// at the end. Kept apart from the widgets so each text can be checked on its own.
#include "app/job/ConversionJob.h"

#include <QString>

#include <vector>

// "Converting <entry name> (file k of n)", followed by ": page k of n" for an entry of several pages.
QString PageStatusText(const TPageProgress& page);

// Every source or frame that gave no page, then every page that is incomplete, one a line (at most 20,
// then a count of the rest).
QString SkippedText(const std::vector<TSkippedInput>& skipped, const std::vector<TPageNote>& notes = {});

struct TRunReport {
    QString Text;   // the end-of-run report
    QString Status; // one line for the status bar
    bool OfferOpen; // the PDF file holds pages and can be opened from the report
};
// The report of a run that was worked through (Completed, Stopped or NoPages); outputExists: the output
// file is there now.
TRunReport RunReport(const TJobResult& result, bool outputExists);
