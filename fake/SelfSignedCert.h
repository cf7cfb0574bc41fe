#pragma once

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace corvanta::fake {

// A server TLS context with a fresh self-signed certificate (EC P-256) for 127.0.0.1 and
// localhost; certificatePem receives the certificate. nullptr on failure. Free with
// SSL_CTX_free.
SSL_CTX* makeSelfSignedServerContext(std::string& certificatePem);

} // namespace corvanta::fake
