// The doctor's findings: one step per finding, in the order found, and the
// figures a script wants, printed as plain words or as one JSON object.
#pragma once

#include <string>
#include <vector>

enum class Outcome { kOk, kWarning, kFailed };

struct Step {
    std::string name;
    Outcome outcome;
    std::string detail;
};

struct Report {
    std::vector<Step> steps;
    bool loads = false;
    // -1 while not known, printed as null.
    long accounts = -1;
    long listed = -1;
    long aliases = -1;
    // Empty unless the check was asked for; "ok" or the failed check's name.
    std::string caller;
    std::string auth;

    void Add(std::string name, Outcome outcome, std::string detail);
    // The step of this name, or nullptr.
    const Step* Find(const std::string& name) const;
};

// 0 when nothing failed (warnings aside), else 1.
int ExitStatus(const Report& report);
std::string PlainText(const Report& report);
std::string Json(const Report& report);
