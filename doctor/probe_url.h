// The URL given to --probe: https://host[:port]/path, taken only when every
// byte of it can go on the wire as written.
#pragma once

#include "doctor/probe_transport.h"

#include <string>

// False, with a message, for anything else.
bool ParseProbeUrl(const std::string& text, ProbeUrl& url, std::string& error);
