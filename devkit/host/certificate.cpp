#include "devkit/host/certificate.h"

#include "devkit/host/state_directory.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Created at its final name, exclusively: whatever is already there, a
// file or a symbolic link planted to redirect the write, is neither followed
// nor replaced, and no temporary name exists for anyone to race. A file this
// call cannot finish is removed again.
template <class Write>
void WriteNewFile(const std::filesystem::path& path, mode_t mode, Write write)
{
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (descriptor < 0) {
        int error = errno;
        std::string what = path.string() + ": " + std::strerror(error);
        if (error == EEXIST)
            what += "; remove it to have a new pair made";
        Check(false, what.c_str());
    }
    FILE* file = fdopen(descriptor, "w");
    if (!file)
        close(descriptor);
    // The mode exactly as asked, whatever the umask.
    bool written = file && fchmod(descriptor, mode) == 0 && write(file);
    written = file && fclose(file) == 0 && written;
    if (!written) {
        unlink(path.c_str());
        Check(false, path.c_str());
    }
}

void MakeCertificateFiles(const CertificateFiles& files)
{
    KeyPointer key(EVP_EC_gen("P-256"));
    Check(key != nullptr, "EVP_EC_gen");
    CertificatePointer certificate = MakeSelfSigned(key.get());
    WriteNewFile(files.key, 0600, [&](FILE* file) {
        return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
    try {
        WriteNewFile(files.certificate, 0644,
                     [&](FILE* file) { return PEM_write_X509(file, certificate.get()) == 1; });
    } catch (...) {
        // A key without its certificate would stop every later start.
        unlink(files.key.c_str());
        throw;
    }
}

} // namespace

CertificateFiles EnsureCertificate(const Options& options)
{
    if (!options.certificate.empty())
        return {options.certificate, options.key};

    std::filesystem::path directory = StateDirectory(options.stateDirectory);
    MakeStateDirectory(directory);
    CertificateFiles files{(directory / kCertificateName).string(), (directory / kKeyName).string()};
    if (!std::filesystem::exists(files.certificate) || !std::filesystem::exists(files.key))
        MakeCertificateFiles(files);
    return files;
}
