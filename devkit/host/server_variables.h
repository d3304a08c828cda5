// The server variables a request offers through GetServerVariable.
#pragma once

#include "devkit/host/http_request.h"

#include <optional>
#include <string_view>

// The value of the named variable (names compare without regard to case),
// or nothing when the request has no such variable. Wiped storage, since
// HTTP_AUTHORIZATION is among them.
std::optional<WipedBytes> LookUpServerVariable(const HttpRequest& request, std::string_view name);
