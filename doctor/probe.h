// --probe: the deployed endpoint checked from outside. The extension's
// answers are known byte for byte, so every front that is set up wrongly
// shows as an answer that differs from them; each step names the cause and
// the section of docs/iis.md to read.
#pragma once

#include "doctor/diagnosis.h"
#include "doctor/options.h"
#include "doctor/probe_transport.h"
#include "doctor/probe_url.h"
#include "doctor/report.h"

// Every step runs, even after one fails, unless no connection can be made.
// The caller's password goes only to a server whose certificate verified.
Report Probe(const DoctorOptions& options, const CheckPasswords& passwords, const ProbeUrl& url,
             ProbeTransport& transport);
