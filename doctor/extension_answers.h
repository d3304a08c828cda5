// The extension's answers as the probe expects them, made by the extension's
// own response writer, and how an answer seen compares with them.
#pragma once

#include "doctor/probe_transport.h"
#include "extension/fixed_answers.h"

#include <string>

// One of the extension's error pages, exactly as the extension sends it.
HttpAnswer ExpectedPage(const ErrorPage& page);

enum class PageMatch {
    kSame,          // the page: status, body, content type and the header of its status
    kStatusOnly,    // the status and its header, but another page: a front replaced it
    kDifferent,
};
PageMatch Compare(const HttpAnswer& got, const HttpAnswer& page);

// "the extension's 405 page, "POST method required", with Allow: POST"
std::string Describe(const HttpAnswer& page);

// The value of a header, or empty when the answer has none.
const std::string& HeaderOr(const HttpAnswer& answer, std::string_view name);
