#include "lane/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

void Sha256::Free::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256::Sha256() : m_context(EVP_MD_CTX_new()) {
    if (!m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("SHA-256 is not available");
    }
}

Sha256::~Sha256() = default;

void Sha256::add(QByteArrayView bytes) {
    EVP_DigestUpdate(m_context.get(), bytes.data(), static_cast<size_t>(bytes.size()));
}

QByteArray Sha256::digestSoFar() const {
    std::unique_ptr<evp_md_ctx_st, Free> copy(EVP_MD_CTX_new());
    EVP_MD_CTX_copy_ex(copy.get(), m_context.get());
    QByteArray digest(EVP_MAX_MD_SIZE, '\0');
    unsigned int length = 0;
    EVP_DigestFinal_ex(copy.get(), reinterpret_cast<unsigned char*>(digest.data()), &length);
    digest.resize(length);
    return digest;
}

QByteArray Sha256::of(QByteArrayView bytes) {
    Sha256 hash;
    hash.add(bytes);
    return hash.digestSoFar();
}
