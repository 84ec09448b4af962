#include "core/sha256.h"

#include <QCryptographicHash>
#include <QtTest>

// Checked against Qt's own SHA-256, whole and in pieces that split blocks, and asked for its
// result part way, as a download's sink does.
class tst_Sha256 : public QObject
{
    Q_OBJECT

private slots:
    void matchesQt_data();
    void matchesQt();
};

void tst_Sha256::matchesQt_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");

    for (int size : { 0, 55, 64, 65, (1 << 20) + 7 }) {
        QTest::addRow("%d-whole", size) << size << qMax(size, 1);
        QTest::addRow("%d-in-7s", size) << size << 7;
    }
}

void tst_Sha256::matchesQt()
{
    QFETCH(int, size);
    QFETCH(int, piece);
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 131 + i / 7) & 0xff);

    Sha256 hash;
    const int half = size / 2;
    hash.addData(data.constData(), half);
    QCOMPARE(hash.result(), QCryptographicHash::hash(data.left(half), QCryptographicHash::Sha256));
    for (int at = half; at < size; at += piece)
        hash.addData(data.constData() + at, qMin(piece, size - at));
    QCOMPARE(hash.result(), QCryptographicHash::hash(data, QCryptographicHash::Sha256));
}

QTEST_GUILESS_MAIN(tst_Sha256)
#include "tst_sha256.moc"
