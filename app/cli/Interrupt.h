#pragma once
// Ctrl-C during a run: the first stops after the current file (the pages so far are still written),
// a second ends the program at once and removes the unfinished work file.
#include <string>

class TConversionJob;

// Installs the handler for this job; workFile (and folder, when not empty) are removed on a second
// Ctrl-C.
void CatchInterrupts(TConversionJob& job, const std::string& workFile, const std::string& folder);
// Restores the default action.
void ReleaseInterrupts();
