// What IIS (and HTTP.sys in front of it) answers instead of the extension,
// and why: one table, each row with the cause in the operator's words, the
// section of docs/iis.md that fixes it and the Microsoft page that states it.
// The guide's troubleshooting table is checked against this one
// (tests/docs/test_iis_answers.py), so a cause is worded here and only here.
#pragma once

#include "doctor/probe_transport.h"

#include <span>
#include <string>
#include <string_view>

struct IisAnswer {
    int status;
    // -1 for HTTP.sys's own answer, which no IIS module made and which
    // therefore names no sub-status.
    int subStatus;
    // As IIS's detailed page shows it ("0x80070021"), where Microsoft ties
    // the cause to it; empty where the sub-status alone says it.
    std::string_view errorCode;
    std::string_view cause;
    std::string_view section; // of docs/iis.md: "section 6", "sections 5 and 7"
    std::string_view source;  // the Microsoft page that states the row
};

std::span<const IisAnswer> IisAnswers();

// What an answer's page shows of IIS's own reading of it: "HTTP Error
// 500.19" and "Error Code 0x80070021" on a detailed page. Terse pages, which
// IIS sends to other machines, show neither.
struct IisPage {
    int subStatus = -1;    // -1: none shown
    std::string errorCode; // lower case, "0x" and eight digits; empty: none shown
};
IisPage ReadIisPage(const HttpAnswer& answer);

// The answer's status as the report names it: "404", "404.3", or
// "500.19 with error code 0x80070021".
std::string StatusText(const HttpAnswer& answer);

// The probe's words for an answer that is not the extension's: the cause and
// section of the one row the page points to; every candidate row when the
// page shows only the status; who asked for credentials on a 401; where a
// redirect points.
std::string CauseOf(const HttpAnswer& answer);
