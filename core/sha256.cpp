#include "core/sha256.h"

#include <openssl/evp.h>

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr);
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
}

void Sha256::addData(const char *data, qint64 size)
{
    EVP_DigestUpdate(m_context, data, size_t(size));
}

// Finishing ends a context, so a copy is finished instead.
QByteArray Sha256::result() const
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    EVP_MD_CTX *copy = EVP_MD_CTX_new();
    const bool done = EVP_MD_CTX_copy_ex(copy, m_context) == 1
        && EVP_DigestFinal_ex(copy, reinterpret_cast<unsigned char *>(digest.data()), &length) == 1;
    EVP_MD_CTX_free(copy);
    return done ? digest.left(int(length)) : QByteArray();
}
