// The report's steps for loading, each written from what its load step saw.
#pragma once

#include "doctor/load_findings.h"
#include "doctor/report.h"

// The files the loaded user library names, as it reports them; both empty
// when it has no VL_GetDBPath to be asked.
struct LibraryFiles {
    bool asked = false;
    std::string settings;
    std::string alias;
};

// The load steps in the order the extension runs them, up to the first that
// fails; then the settings file and GroupNames once loaded. What IniPath
// says of a file it does not name needs `files`, given once loaded.
std::vector<Step> LoadSteps(const LoadFindings& load, const LibraryFiles* files);
