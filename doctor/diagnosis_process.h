// The diagnosis runs in a process of its own, so that a user library that
// crashes, hangs, ends the process or prints cannot take the report with it:
// that process streams each step to the doctor as it is added, and the
// doctor prints the report. Crashing, hanging or ending is what the library
// would do to IIS's worker process; the report says so in a last step.
#pragma once

#include "doctor/child_process.h"
#include "doctor/options.h"

// Runs the diagnosis in a child process, prints its report on standard
// output, and returns the doctor's exit status.
int DiagnoseApart(const DoctorOptions& options);

// The child's work: reads the passwords, runs Diagnose with every call into
// the user library recorded, and sends the steps and the report to the
// parent. Returns the child's exit status.
int ServeDiagnosis(const DoctorOptions& options, ParentLink& parent);
