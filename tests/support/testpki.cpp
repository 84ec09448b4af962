#include "tests/support/testpki.h"

#include "tests/support/testfiles.h"

#include <QHostAddress>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct KeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct CertificateFree
{
    void operator()(X509 *certificate) const { X509_free(certificate); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Certificate = std::unique_ptr<X509, CertificateFree>;

Key makeKey()
{
    return Key(EVP_EC_gen("P-256"));
}

bool addExtension(X509 *certificate, X509 *issuer, int nid, const QByteArray &value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData());
    if (!extension)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// The issuer is the certificate itself when issuer is null (a self-signed CA).
Certificate makeCertificate(
    EVP_PKEY *key, const QByteArray &commonName, X509 *issuer, EVP_PKEY *issuerKey, int fromDays, int toDays)
{
    static long serial = 1;
    Certificate certificate(X509_new());
    X509 *cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
    X509_time_adj_ex(X509_getm_notBefore(cert), fromDays, 0, nullptr);
    X509_time_adj_ex(X509_getm_notAfter(cert), toDays, 0, nullptr);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(
        name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>("Quillet test"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
        reinterpret_cast<const unsigned char *>(commonName.constData()), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    if (X509_sign(cert, issuerKey ? issuerKey : key, EVP_sha256()) <= 0)
        return nullptr;
    return certificate;
}

QByteArray certificatePem(X509 *certificate)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, certificate);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    const QByteArray pem(data, int(size));
    BIO_free(bio);
    return pem;
}

QByteArray keyPem(EVP_PKEY *key)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    const QByteArray pem(data, int(size));
    BIO_free(bio);
    return pem;
}

} // namespace

struct TestPki::Private
{
    Key key;
    Certificate ca;
};

TestPki::TestPki()
    : d(new Private)
{
    d->key = makeKey();
    if (!d->key)
        return;
    // Extensions are signed too, so the CA is made unsigned, extended, then signed again.
    d->ca = makeCertificate(d->key.get(), "Quillet test CA", nullptr, nullptr, -1, 365);
    if (!d->ca || !addExtension(d->ca.get(), d->ca.get(), NID_basic_constraints, "critical,CA:TRUE")
        || !addExtension(d->ca.get(), d->ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign")
        || X509_sign(d->ca.get(), d->key.get(), EVP_sha256()) <= 0)
        d->ca.reset();
}

TestPki::~TestPki() = default;

bool TestPki::isValid() const
{
    return d->key && d->ca;
}

QByteArray TestPki::caPem() const
{
    return isValid() ? certificatePem(d->ca.get()) : QByteArray();
}

TestPki::Issued TestPki::issue(const QString &host, int validFromDays, int validToDays) const
{
    if (!isValid())
        return {};
    const Key key = makeKey();
    Certificate certificate
        = makeCertificate(key.get(), host.toUtf8(), d->ca.get(), d->key.get(), validFromDays, validToDays);
    const QByteArray altName = (QHostAddress(host).isNull() ? "DNS:" : "IP:") + host.toUtf8();
    if (!certificate || !addExtension(certificate.get(), d->ca.get(), NID_subject_alt_name, altName)
        || !addExtension(certificate.get(), d->ca.get(), NID_ext_key_usage, "serverAuth")
        || X509_sign(certificate.get(), d->key.get(), EVP_sha256()) <= 0)
        return {};
    return { certificatePem(certificate.get()), keyPem(key.get()) };
}

bool TestPki::save(const Issued &issued, const QString &folder, const QString &name)
{
    return !issued.certificatePem.isEmpty()
        && TestFiles::write(folder + '/' + name + ".pem", issued.certificatePem)
        && TestFiles::write(folder + '/' + name + ".key", issued.keyPem);
}
