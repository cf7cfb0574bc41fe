#include "SelfSignedCert.h"

#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace corvanta::fake {

namespace {

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};

template <typename T>
using Owned = std::unique_ptr<T, Free>;

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    Owned<X509_EXTENSION> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

} // namespace

void SslContextFree::operator()(SSL_CTX* context) const {
    SSL_CTX_free(context);
}

void SslFree::operator()(SSL* ssl) const {
    SSL_free(ssl);
}

SslContextOwner makeSelfSignedServerContext(std::string& certificatePem) {
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Owned<X509> cert(X509_new());
    if (!key || !cert)
        return {};
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(time(nullptr)));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Corvanta fake index"), -1,
                               -1, 0);
    X509_set_issuer_name(cert.get(), name);
    if (!addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(cert.get(), NID_subject_key_identifier, "hash"))
        return {};
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        return {};

    Owned<BIO> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), cert.get()) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    certificatePem.assign(data, static_cast<std::size_t>(size));

    Owned<SSL_CTX> ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx || SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1 ||
        SSL_CTX_check_private_key(ctx.get()) != 1)
        return {};
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_AUTO_RETRY);
    return SslContextOwner(ctx.release());
}

} // namespace corvanta::fake
