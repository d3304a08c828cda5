// The extension's fixed answers, listed once: its error pages, the header
// that belongs to a status, and auth's two bodies. The response writer sends
// them from here, and the doctor's probe knows them byte for byte from here.
#pragma once

struct ErrorPage {
    const char* status;  // the status text, "403 Forbidden"
    const char* message; // the page's one line
};

inline constexpr ErrorPage kHttpsRequired{"403 Forbidden", "HTTPS required"};
inline constexpr ErrorPage kPostRequired{"405 Method Not Allowed", "POST method required"};
inline constexpr ErrorPage kAuthenticationRequired{"401 Unauthorized", "Authentication required"};
inline constexpr ErrorPage kInvalidCredentials{"401 Unauthorized", "Invalid username or password"};
inline constexpr ErrorPage kInvalidInput{"400 Bad Request", "Invalid input"};
inline constexpr ErrorPage kInvalidCommand{"400 Bad Request", "Invalid command"};
inline constexpr ErrorPage kPostedDataUnreadable{"500 Internal Server Error", "Error reading posted data"};
inline constexpr ErrorPage kInternalError{"500 Internal Server Error", "Internal server error"};

// A header that every answer of one status carries, and no other.
struct StatusHeader {
    unsigned status;
    const char* name;
    const char* value;
};

// The challenge of every 401 the extension sends.
inline constexpr char kBasicChallenge[] = "Basic realm=\"TessalineIntegration\"";

inline constexpr StatusHeader kStatusHeaders[] = {
    {405, "Allow", "POST"},
    {401, "WWW-Authenticate", kBasicChallenge},
};

// The header of this status, or nullptr.
constexpr const StatusHeader* HeaderOfStatus(unsigned status)
{
    for (const StatusHeader& header : kStatusHeaders)
        if (header.status == status)
            return &header;
    return nullptr;
}

inline constexpr char kJsonContentType[] = "text/json; charset=UTF-8";
inline constexpr char kAuthSucceeded[] = "{\"succeeded\": true}\r\n";
inline constexpr char kAuthFailed[] = "{\"succeeded\": false}\r\n";
