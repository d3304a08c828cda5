// The HTTPS certificate: the operator's, or a self-signed one made on first use.
#pragma once

#include "devkit/host/options.h"

#include <string>

struct CertificateFiles {
    std::string certificate;
    std::string key;
};

// The given pair, or the self-signed one for localhost and 127.0.0.1 kept
// in the state directory, made there when it is not there yet.
CertificateFiles EnsureCertificate(const Options& options);
