// The doctor's findings: one step per finding, in the order found, and the
// figures a script wants, printed as plain words or as one JSON object.
// Names and paths come from the mail server in its code page, and every text
// here stays in it: the plain report prints the bytes as found, the JSON
// converts them to UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class Outcome { kOk, kWarning, kFailed };

struct Step {
    std::string name;
    Outcome outcome = Outcome::kOk;
    std::string detail;
};

struct Report {
    std::vector<Step> steps;
    bool loads = false;
    // -1 while not known, printed as null.
    long accounts = -1;
    long listed = -1;
    long aliases = -1;
    // Of the accounts and aliases that list would send, those whose address
    // holds a byte above 0x7F.
    long nonAsciiAccounts = -1;
    long nonAsciiAliases = -1;
    // Empty unless the check was asked for; one of kCheckResults.
    std::string caller;
    std::string auth;
    // Set by --probe: the endpoint probed, instead of this machine's layout,
    // and this machine's address it resolved to, when it is this machine.
    std::string url;
    std::string probedFrom;

    void Add(std::string name, Outcome outcome, std::string detail);
    void Add(Step step);
    // The step of this name, or nullptr.
    const Step* Find(const std::string& name) const;
};

// While set, told of every step as it is added to any report: the doctor's
// diagnosis process hands each one to its parent at once, so that the steps
// survive a user library that ends the process. Empty: none.
void ListenToSteps(std::function<void(const Step&)> listener);

// 0 when nothing failed (warnings aside), else 1.
int ExitStatus(const Report& report);
std::string PlainText(const Report& report);
std::string Json(const Report& report);
