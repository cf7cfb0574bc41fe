#pragma once

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace corvanta::fake {

// Owners of OpenSSL's objects.
struct SslContextFree {
    void operator()(SSL_CTX* context) const;
};
struct SslFree {
    void operator()(SSL* ssl) const;
};
using SslContextOwner = std::unique_ptr<SSL_CTX, SslContextFree>;
using SslOwner = std::unique_ptr<SSL, SslFree>;

// A server TLS context with a fresh self-signed certificate (EC P-256) for 127.0.0.1 and
// localhost; certificatePem receives the certificate. Empty on failure.
SslContextOwner makeSelfSignedServerContext(std::string& certificatePem);

} // namespace corvanta::fake
