#include "devkit/host/certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace {

constexpr char kCertificateName[] = "isapi-devhost-cert.pem";
constexpr char kKeyName[] = "isapi-devhost-key.pem";
constexpr long kValiditySeconds = 825L * 24 * 60 * 60;

template <auto Free>
struct OpenSslDelete {
    template <class T>
    void operator()(T* object) const { Free(object); }
};
using KeyPointer = std::unique_ptr<EVP_PKEY, OpenSslDelete<EVP_PKEY_free>>;
using CertificatePointer = std::unique_ptr<X509, OpenSslDelete<X509_free>>;
using ExtensionPointer = std::unique_ptr<X509_EXTENSION, OpenSslDelete<X509_EXTENSION_free>>;

void Check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string("cannot make the self-signed certificate: ") + what);
}

void AddExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    ExtensionPointer extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    Check(extension && X509_add_ext(certificate, extension.get(), -1), value);
}

CertificatePointer MakeSelfSigned(EVP_PKEY* key)
{
    CertificatePointer certificate(X509_new());
    Check(certificate != nullptr, "X509_new");
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set_int64(X509_get_serialNumber(x), static_cast<int64_t>(time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), kValiditySeconds);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1,
                               -1, 0);
    X509_set_issuer_name(x, name);
    Check(X509_set_pubkey(x, key) == 1, "X509_set_pubkey");
    AddExtension(x, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    AddExtension(x, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(x, NID_key_usage, "critical,digitalSignature");
    AddExtension(x, NID_ext_key_usage, "serverAuth");
    Check(X509_sign(x, key, EVP_sha256()) > 0, "X509_sign");
    return certificate;
}

// Written beside its final name and renamed, so a reader never sees half a file;
// the key is readable by its owner only.
template <class Write>
void WriteFileAtomically(const std::filesystem::path& path, mode_t mode, Write write)
{
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    Check(descriptor >= 0, temporary.c_str());
    FILE* file = fdopen(descriptor, "w");
    bool written = file && write(file);
    written = file && fclose(file) == 0 && written;
    Check(written, temporary.c_str());
    std::filesystem::rename(temporary, path);
}

void MakeCertificateFiles(const CertificateFiles& files)
{
    KeyPointer key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "EVP_EC_gen");
    CertificatePointer certificate = MakeSelfSigned(key.get());
    WriteFileAtomically(files.key, 0600, [&](FILE* file) {
        return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
    WriteFileAtomically(files.certificate, 0644,
                        [&](FILE* file) { return PEM_write_X509(file, certificate.get()) == 1; });
}

} // namespace

CertificateFiles EnsureCertificate(const Options& options)
{
    if (!options.certificate.empty())
        return {options.certificate, options.key};

    std::filesystem::path directory = options.stateDirectory;
    std::filesystem::create_directories(directory);
    CertificateFiles files{(directory / kCertificateName).string(), (directory / kKeyName).string()};
    if (!std::filesystem::exists(files.certificate) || !std::filesystem::exists(files.key))
        MakeCertificateFiles(files);
    return files;
}
