#include "sha256.h"

#include <QCryptographicHash>
#include <QtTest>

// Checked against Qt's own SHA-256, at every length where the padding changes shape and in
// pieces that split blocks.
class tst_Sha256 : public QObject
{
    Q_OBJECT

private slots:
    void knownDigest();
    void matchesQt_data();
    void matchesQt();
};

void tst_Sha256::knownDigest()
{
    Sha256 hash;
    hash.addData("abc", 3);
    QCOMPARE(hash.result().toHex(),
        QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    qInfo() << "SHA extensions used:" << Sha256::isAccelerated();
}

void tst_Sha256::matchesQt_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");

    for (int size : { 0, 1, 55, 56, 63, 64, 65, 119, 120, 1000, (1 << 20) + 7 }) {
        QTest::addRow("%d-whole", size) << size << qMax(size, 1);
        QTest::addRow("%d-in-7s", size) << size << 7;
    }
    QTest::newRow("1M-in-100s") << (1 << 20) << 100;
}

void tst_Sha256::matchesQt()
{
    QFETCH(int, size);
    QFETCH(int, piece);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + i / 7) & 0xff);

    Sha256 hash;
    for (int at = 0; at < size; at += piece)
        hash.addData(data.constData() + at, qMin(piece, size - at));
    QCOMPARE(hash.result().toHex(), QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

QTEST_GUILESS_MAIN(tst_Sha256)
#include "tst_sha256.moc"
