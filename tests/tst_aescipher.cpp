#include "credentials/aescipher.h"

#include <QtTest>

#include <vector>

static QByteArray sequenceBytes(int size, int start = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((start + i * 7 + i / 13) & 0xff);
    return bytes;
}

static const uchar *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uchar *>(bytes.constData());
}

class tst_AesCipher : public QObject
{
    Q_OBJECT

private slots:
    void encryptBlock_data();
    void encryptBlock();
    void decryptBlock_data() { encryptBlock_data(); }
    void decryptBlock();
    void makePermutation_data();
    void makePermutation();
    void scrambleBytes_data();
    void scrambleBytes();
    void scrambleUsesSharedChunkTable();
    void unscrambleBytes_data();
    void unscrambleBytes();
    void cipherTextSize_data();
    void cipherTextSize();
    void roundTrip_data();
    void roundTrip();
    void ecbBlocksAndLengthBlock();
    void wrongKeyFails_data();
    void wrongKeyFails();
    void damagedCipherTextFails_data();
    void damagedCipherTextFails();
    void damageInDataGoesUndetected();
    void badKeyLength_data();
    void badKeyLength();
    void missingBuffers();
    void lengthBlockClaim_data();
    void lengthBlockClaim();
};

void tst_AesCipher::encryptBlock_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("cipher");

    const QByteArray plain = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    QTest::newRow("fips197-c1-aes128") << QByteArray::fromHex("000102030405060708090a0b0c0d0e0f") << plain
                                       << QByteArray::fromHex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("fips197-c2-aes192")
        << QByteArray::fromHex("000102030405060708090a0b0c0d0e0f1011121314151617") << plain
        << QByteArray::fromHex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("fips197-c3-aes256")
        << QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f") << plain
        << QByteArray::fromHex("8ea2b7ca516745bfeafc49904b496089");
    QTest::newRow("fips197-b-aes128") << QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c")
                                      << QByteArray::fromHex("3243f6a8885a308d313198a2e0370734")
                                      << QByteArray::fromHex("3925841d02dc09fbdc118597196a0b32");
}

void tst_AesCipher::encryptBlock()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);

    AesCipher aes(key.size(), bytesOf(key));
    QVERIFY(aes.isValid());
    QByteArray out(16, '\0');
    aes.encryptBlock(bytesOf(plain), reinterpret_cast<uchar *>(out.data()));
    QCOMPARE(out.toHex(), cipher.toHex());
}

void tst_AesCipher::decryptBlock()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, cipher);

    AesCipher aes(key.size(), bytesOf(key));
    QByteArray out(16, '\0');
    aes.decryptBlock(bytesOf(cipher), reinterpret_cast<uchar *>(out.data()));
    QCOMPARE(out.toHex(), plain.toHex());
}

void tst_AesCipher::makePermutation_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("seed 0, four entries") << 0 << QByteArray::fromHex("00020301");
    QTest::newRow("seed 96, three entries") << 96 << QByteArray::fromHex("010200");
    QTest::newRow("single entry") << 200 << QByteArray::fromHex("00");
}

void tst_AesCipher::makePermutation()
{
    QFETCH(int, seed);
    QFETCH(QByteArray, expected);

    QByteArray table(expected.size(), '\x7f');
    ::makePermutation(seed, table.size(), reinterpret_cast<uchar *>(table.data()));
    QCOMPARE(table.toHex(), expected.toHex());
}

void tst_AesCipher::scrambleBytes_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("scrambled");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("abc, seed 96") << QByteArray("abc") << QByteArray("cab");
    QTest::newRow("abcd, seed 4") << QByteArray("abcd") << QByteArray("adbc");
}

void tst_AesCipher::scrambleBytes()
{
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, scrambled);

    QByteArray out;
    ::scrambleBytes(plain, out);
    QCOMPARE(out, scrambled);
}

// Every full 256-byte chunk moves through the same table, whatever its content, as long as the
// XOR of the whole input is the same; the tail has its own table.
void tst_AesCipher::scrambleUsesSharedChunkTable()
{
    QByteArray first = sequenceBytes(3 * 256 + 40);
    QByteArray second = sequenceBytes(3 * 256 + 40, 99);
    // Fix the last byte of the second input so that both XOR to the same seed.
    uchar xorFirst = 0;
    uchar xorSecond = 0;
    for (int i = 0; i < first.size(); ++i) {
        xorFirst ^= uchar(first[i]);
        xorSecond ^= uchar(second[i]);
    }
    second[second.size() - 1] = char(uchar(second[second.size() - 1]) ^ xorFirst ^ xorSecond);

    std::vector<uchar> chunk(256);
    std::vector<uchar> tail(40);
    ::makePermutation(xorFirst, 256, chunk.data());
    ::makePermutation(xorFirst, 40, tail.data());
    for (const QByteArray &plain : { first, second }) {
        QByteArray out;
        ::scrambleBytes(plain, out);
        QCOMPARE(out.size(), plain.size());
        for (int c = 0; c < 3; ++c) {
            for (int j = 0; j < 256; ++j)
                QCOMPARE(out[c * 256 + chunk[j]], plain[c * 256 + j]);
        }
        for (int j = 0; j < 40; ++j)
            QCOMPARE(out[768 + tail[j]], plain[768 + j]);
    }
}

void tst_AesCipher::unscrambleBytes_data()
{
    QTest::addColumn<int>("size");

    for (int size : { 1, 2, 3, 255, 256, 257, 511, 512, 1000 })
        QTest::newRow(qPrintable(QString::number(size) + " bytes")) << size;
}

void tst_AesCipher::unscrambleBytes()
{
    QFETCH(int, size);

    const QByteArray plain = sequenceBytes(size, size);
    QByteArray scrambled;
    ::scrambleBytes(plain, scrambled);
    QByteArray back;
    ::unscrambleBytes(scrambled, back);
    QCOMPARE(back, plain);
    if (size >= 4)
        QVERIFY(scrambled != plain);
}

void tst_AesCipher::cipherTextSize_data()
{
    QTest::addColumn<int>("plainSize");
    QTest::addColumn<int>("cipherSize");

    QTest::newRow("empty: length block only") << 0 << 16;
    QTest::newRow("15 bytes") << 15 << 32;
    QTest::newRow("16 bytes") << 16 << 32;
    QTest::newRow("17 bytes") << 17 << 48;
    QTest::newRow("256 bytes") << 256 << 272;
    QTest::newRow("257 bytes") << 257 << 288;
}

void tst_AesCipher::cipherTextSize()
{
    QFETCH(int, plainSize);
    QFETCH(int, cipherSize);

    const QByteArray key("0123456789abcdef");
    const QByteArray cipherText = encryptBytes(sequenceBytes(plainSize), key);
    QCOMPARE(cipherText.size(), cipherSize);
    QCOMPARE(decryptBytes(cipherText, key), sequenceBytes(plainSize));
}

void tst_AesCipher::roundTrip_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("size");

    const QByteArray keys[] = { sequenceBytes(16, 3), sequenceBytes(24, 5), sequenceBytes(32, 11) };
    for (const QByteArray &key : keys) {
        for (int size : { 1, 5, 15, 16, 17, 31, 32, 33, 100, 255, 256, 257, 1023, 4096, 70001 }) {
            const QString name = QStringLiteral("aes%1-%2-bytes").arg(key.size() * 8).arg(size);
            QTest::newRow(qPrintable(name)) << key << size;
        }
    }
}

void tst_AesCipher::roundTrip()
{
    QFETCH(QByteArray, key);
    QFETCH(int, size);

    const QByteArray plain = sequenceBytes(size, size * 3);
    const QByteArray cipherText = encryptBytes(plain, key);
    QCOMPARE(cipherText.size(), (size + 15) / 16 * 16 + 16);
    QVERIFY(!cipherText.contains(plain.left(16)));
    QCOMPARE(decryptBytes(cipherText, key), plain);
}

// The layout must stay readable by other installations: scrambled data in ECB blocks, the last
// one zero-filled, then the length written four times.
void tst_AesCipher::ecbBlocksAndLengthBlock()
{
    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    const QByteArray plain = sequenceBytes(20);
    const QByteArray cipherText = encryptBytes(plain, key);
    QCOMPARE(cipherText.size(), 48);

    QByteArray scrambled;
    ::scrambleBytes(plain, scrambled);
    QByteArray expectedBlocks
        = scrambled + QByteArray(12, '\0') + QByteArray::fromHex("14000000").repeated(4);
    AesCipher aes(key.size(), bytesOf(key));
    QByteArray expected(48, '\0');
    for (int offset = 0; offset < 48; offset += 16)
        aes.encryptBlock(
            bytesOf(expectedBlocks) + offset, reinterpret_cast<uchar *>(expected.data()) + offset);
    QCOMPARE(cipherText.toHex(), expected.toHex());
}

void tst_AesCipher::wrongKeyFails_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("otherKey");

    QTest::newRow("aes128") << sequenceBytes(16, 1) << sequenceBytes(16, 2);
    QTest::newRow("aes192") << sequenceBytes(24, 1) << sequenceBytes(24, 2);
    QTest::newRow("aes256") << sequenceBytes(32, 1) << sequenceBytes(32, 2);
    QTest::newRow("aes128 key, aes256 key") << sequenceBytes(16, 1) << sequenceBytes(32, 1);
}

void tst_AesCipher::wrongKeyFails()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, otherKey);

    const QByteArray cipherText = encryptBytes(sequenceBytes(300), key);
    QCOMPARE(decryptBytes(cipherText, otherKey), QByteArray());
}

void tst_AesCipher::damagedCipherTextFails_data()
{
    QTest::addColumn<QByteArray>("damaged");

    const QByteArray key("0123456789abcdef");
    const QByteArray good = encryptBytes(sequenceBytes(40), key);
    QByteArray flipped = good;
    flipped[flipped.size() - 3] = char(flipped[flipped.size() - 3] ^ 0x01);

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("shorter than a block") << good.left(10);
    QTest::newRow("not a multiple of 16") << good.left(good.size() - 1);
    QTest::newRow("extra byte") << good + 'x';
    QTest::newRow("length block altered") << flipped;
    QTest::newRow("length block dropped") << good.left(good.size() - 16);
}

void tst_AesCipher::damagedCipherTextFails()
{
    QFETCH(QByteArray, damaged);

    QCOMPARE(decryptBytes(damaged, QByteArray("0123456789abcdef")), QByteArray());
}

void tst_AesCipher::damageInDataGoesUndetected()
{
    const QByteArray key("0123456789abcdef");
    const QByteArray plain = sequenceBytes(40);
    QByteArray cipherText = encryptBytes(plain, key);
    cipherText[0] = char(cipherText[0] ^ 0x80);
    const QByteArray back = decryptBytes(cipherText, key);
    QCOMPARE(back.size(), plain.size());
    QVERIFY(back != plain);
}

void tst_AesCipher::badKeyLength_data()
{
    QTest::addColumn<QByteArray>("key");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("15 bytes") << sequenceBytes(15);
    QTest::newRow("17 bytes") << sequenceBytes(17);
    QTest::newRow("20 bytes") << sequenceBytes(20);
    QTest::newRow("64 bytes") << sequenceBytes(64);
}

void tst_AesCipher::badKeyLength()
{
    QFETCH(QByteArray, key);

    QCOMPARE(encryptBytes(QByteArray("secret"), key), QByteArray());
    const QByteArray validCipherText = encryptBytes(QByteArray("secret"), key.leftJustified(16, 'k', true));
    QCOMPARE(decryptBytes(validCipherText, key), QByteArray());
    QVERIFY(!AesCipher(key.size(), bytesOf(key)).isValid());
}

void tst_AesCipher::missingBuffers()
{
    const QByteArray key("0123456789abcdef");
    AesCipher aes(key.size(), bytesOf(key));
    uchar in[48] = {};
    uchar out[48] = {};
    QCOMPARE(aesEncrypt(nullptr, in, 16, out), -1);
    QCOMPARE(aesEncrypt(&aes, nullptr, 16, out), -1);
    QCOMPARE(aesEncrypt(&aes, in, 16, nullptr), -1);
    QCOMPARE(aesDecrypt(nullptr, in, 16, out), -1);
    QCOMPARE(aesDecrypt(&aes, nullptr, 16, out), -1);
    QCOMPARE(aesDecrypt(&aes, in, 16, nullptr), -1);
    QCOMPARE(aesEncrypt(&aes, in, 0, out), 16);
    QCOMPARE(aesDecrypt(&aes, out, 16, in), 0);
}

void tst_AesCipher::lengthBlockClaim_data()
{
    QTest::addColumn<int>("claimed");
    QTest::addColumn<int>("expected");

    QTest::newRow("all bytes before it") << 16 << 16;
    QTest::newRow("fewer bytes") << 3 << 3;
    QTest::newRow("one byte more than there is") << 17 << -1;
    QTest::newRow("far more than there is") << 100000 << -1;
    QTest::newRow("negative") << -5 << -1;
}

// A length block is trusted only as far as the data before it reaches.
void tst_AesCipher::lengthBlockClaim()
{
    QFETCH(int, claimed);
    QFETCH(int, expected);

    const QByteArray key("0123456789abcdef");
    AesCipher aes(key.size(), bytesOf(key));
    uchar plainBlocks[32] = {};
    for (int i = 0; i < 4; ++i)
        qToLittleEndian<qint32>(claimed, plainBlocks + 16 + i * 4);
    QByteArray cipherText(32, '\0');
    uchar *cipherData = reinterpret_cast<uchar *>(cipherText.data());
    aes.encryptBlock(plainBlocks, cipherData);
    aes.encryptBlock(plainBlocks + 16, cipherData + 16);

    uchar out[32];
    QCOMPARE(aesDecrypt(&aes, cipherData, 32, out), expected);
    QCOMPARE(decryptBytes(cipherText, key).size(), qMax(expected, 0));
}

QTEST_GUILESS_MAIN(tst_AesCipher)
#include "tst_aescipher.moc"
