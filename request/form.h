// The posted form: a URL-encoded body of 1 to 4096 bytes, cut into
// name/value pairs, whose first "cmd" parameter selects the command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One decoded name/value pair of the posted form. The strings are wiped
// before they are freed: the form of an auth request carries a password.
struct FormParameter {
    std::string name;
    std::string value;

    FormParameter(std::string_view n, std::string_view v) : name(n), value(v) {}
    FormParameter(FormParameter&&) = default;
    FormParameter& operator=(FormParameter&&) = default;
    ~FormParameter();
};

using ParameterList = std::vector<FormParameter>;

enum CommandKind : int32_t {
    kCommandNone = 0,
    kCommandList = 1,
    kCommandAuth = 2,
};

constexpr size_t kLargestForm = 4096;

// True for a body of 1 to 4096 bytes posted as a URL-encoded form.
bool IsFormRequest(const char* contentType, uint64_t bodyLength);

// Cuts a zero-terminated body into its parameters, in the order of the body,
// decoding each name and value in place.
void ParseForm(char* body, ParameterList& parameters);

// The command that the first "cmd" parameter names; none without one.
CommandKind SelectCommand(const ParameterList& parameters);
