#include "identity/certificatemaker.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;
using BigPtr = std::unique_ptr<BIGNUM, Deleter<BN_free>>;

// Certificates are pinned by fingerprint, never checked against a clock, but TLS libraries
// still refuse dates they cannot read; a long validity keeps the identity for good.
constexpr long kValidDays = 100L * 365;

QByteArray drain(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? QByteArray(data, size) : QByteArray();
}

bool fillCertificate(X509* cert, EVP_PKEY* key) {
    BigPtr serial(BN_new());
    ASN1_INTEGER* serialField = X509_get_serialNumber(cert);
    X509_NAME* name = X509_get_subject_name(cert);
    return X509_set_version(cert, 2) == 1 && serial &&
           BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(serial.get(), serialField) != nullptr &&
           X509_gmtime_adj(X509_getm_notBefore(cert), -24L * 3600) != nullptr &&
           X509_time_adj_ex(X509_getm_notAfter(cert), static_cast<int>(kValidDays), 0, nullptr) !=
               nullptr &&
           X509_set_pubkey(cert, key) == 1 &&
           X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>("Ruvo"), -1, -1,
                                      0) == 1 &&
           X509_set_issuer_name(cert, name) == 1 && X509_sign(cert, key, EVP_sha256()) > 0;
}

}  // namespace

MadeCertificate makeSelfSignedCertificate() {
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    if (!key || !cert || !fillCertificate(cert.get(), key.get())) {
        return {};
    }
    BioPtr keyBio(BIO_new(BIO_s_mem()));
    BioPtr certBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !certBio ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1 ||
        PEM_write_bio_X509(certBio.get(), cert.get()) != 1) {
        return {};
    }
    return {drain(keyBio.get()), drain(certBio.get())};
}
