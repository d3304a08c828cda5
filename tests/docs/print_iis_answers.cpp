// Prints doctor/iis_answers.cpp's table as the Markdown table docs/iis.md
// holds, for test_iis_answers.py to hold the guide to it, and for pasting
// into the guide when a row changes.
#include "doctor/iis_answers.h"

#include <cstdio>
#include <string>

int main()
{
    std::puts("| Status | Sub-status | Error code | Cause | Section | Source |");
    std::puts("|---|---|---|---|---|---|");
    for (const IisAnswer& row : IisAnswers()) {
        std::string subStatus = row.subStatus < 0 ? "none: HTTP.sys" : std::to_string(row.subStatus);
        std::string line = "| " + std::to_string(row.status) + " | " + subStatus + " | " + std::string(row.errorCode) +
                           " | " + std::string(row.cause) + " | " + std::string(row.section) + " | " +
                           std::string(row.source) + " |";
        std::puts(line.c_str());
    }
    return 0;
}
