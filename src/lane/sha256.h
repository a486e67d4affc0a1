#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct evp_md_ctx_st;

// A running SHA-256 (OpenSSL's, which uses the CPU's SHA instructions where there are
// some). digestSoFar() gives the hash of what was added until now and goes on.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(QByteArrayView bytes);
    QByteArray digestSoFar() const;

    static QByteArray of(QByteArrayView bytes);

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
};
