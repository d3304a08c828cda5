// What several of the doctor's steps say alike: a step's outcome, a quoted
// value, and what a path names when it is no file the extension can read.
#pragma once

#include "doctor/report.h"
#include "doctor/system.h"

#include <string>

Step Ok(std::string name, std::string detail);
Step Warn(std::string name, std::string detail);
Step Fail(std::string name, std::string detail);

std::string Quoted(const std::string& text);

bool IsFileOrMissing(const FileFound& found);

// "<path> is a folder, not a file", "<path> is over the 4 MiB limit the
// extension reads" and the like, for a path that names no file the
// extension can read.
std::string WhatItIs(const std::string& path, const FileFound& found);

// What the extension makes of such a path, and what follows from it; the
// doctor itself never reads such a path, which might block.
std::string WhatFollows(const std::string& path, const FileFound& found, const std::string& consequence);
