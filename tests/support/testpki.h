#ifndef TESTPKI_H
#define TESTPKI_H

#include <QByteArray>
#include <QString>

#include <memory>

// A throw-away certificate authority made at test time: a CA and the server certificates it
// issues, as PEM. Keys are P-256, made anew for every object, and never leave the test.
class TestPki
{
public:
    struct Issued
    {
        QByteArray certificatePem;
        QByteArray keyPem;
    };

    TestPki();
    ~TestPki();
    TestPki(const TestPki &) = delete;
    TestPki &operator=(const TestPki &) = delete;

    // False when OpenSSL could not make the CA.
    bool isValid() const;
    QByteArray caPem() const;
    // A server certificate for host (an IP address or a DNS name), valid from validFromDays
    // to validToDays counted from now (negative numbers lie in the past).
    Issued issue(const QString &host, int validFromDays = -1, int validToDays = 30) const;

    // Writes both PEMs into folder as <name>.pem and <name>.key; true when both were written.
    static bool save(const Issued &issued, const QString &folder, const QString &name);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

#endif // TESTPKI_H
