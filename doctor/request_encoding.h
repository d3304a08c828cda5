// What the probe writes into its requests: Basic credentials and form values.
#pragma once

#include <string>

std::string Base64(const std::string& bytes);
// As application/x-www-form-urlencoded values: every byte but A-Z a-z 0-9 - . _ ~ as %XX.
std::string PercentEncoded(const std::string& text);
