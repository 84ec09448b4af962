#include "credentials/offlineverifier.h"
#include "tests/support/testfiles.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class tst_OfflineVerifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void check_data();
    void check();
    void storeHoldsNoPassword();

private:
    QTemporaryDir m_configHome;
    const QDateTime m_signIn { QDate(2026, 12, 9), QTime(7, 58), Qt::OffsetFromUTC, 8 * 3600 };
};

void tst_OfflineVerifier::initTestCase()
{
    QVERIFY(m_configHome.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    QVERIFY(TestFiles::settingsAreIsolated(OfflineVerifier::storeName(), m_configHome.path()));
}

void tst_OfflineVerifier::check_data()
{
    using Match = OfflineVerifier::Match;
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("daysLater");
    QTest::addColumn<bool>("forgotten");
    QTest::addColumn<Match>("expected");
    QTest::newRow("the right password matches") << "de/mo"
                                                << "demo123" << 0 << false << Match::Matches;
    QTest::newRow("a day before it lapses it still matches") << "de/mo"
                                                             << "demo123" << 13 << false << Match::Matches;
    QTest::newRow("a wrong password differs") << "de/mo"
                                              << "Demo123" << 0 << false << Match::Differs;
    QTest::newRow("a user without a verifier has none") << "de"
                                                        << "demo123" << 0 << false << Match::None;
    QTest::newRow("it lapses 14 days after the sign-in") << "de/mo"
                                                         << "demo123" << 14 << false << Match::None;
    QTest::newRow("one kept later than now lapses, and says the clock is why")
        << "de/mo"
        << "demo123" << -1 << false << Match::ClockMismatch;
    QTest::newRow("a refused password forgets it") << "de/mo"
                                                   << "demo123" << 0 << true << Match::None;
}

void tst_OfflineVerifier::check()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, daysLater);
    QFETCH(bool, forgotten);
    QFETCH(OfflineVerifier::Match, expected);
    QVERIFY(OfflineVerifier::remember("de/mo", "demo123", "42", m_signIn));
    if (forgotten)
        OfflineVerifier::forget("de/mo");
    QString userId;
    QDateTime signedInAt;
    QCOMPARE(
        OfflineVerifier::check(user, password, m_signIn.addDays(daysLater), &userId, &signedInAt), expected);
    QCOMPARE(userId, QString(expected == OfflineVerifier::Match::Matches ? "42" : ""));
    QCOMPARE(signedInAt.isValid(), expected == OfflineVerifier::Match::Matches);
    // A lapsed verifier is gone, even for a clock turned back.
    if (daysLater >= OfflineVerifier::lapseDays || daysLater < 0)
        QCOMPARE(OfflineVerifier::check(user, password, m_signIn), OfflineVerifier::Match::None);
}

void tst_OfflineVerifier::storeHoldsNoPassword()
{
    const QString password = QStringLiteral("s3cret-密码");
    QVERIFY(OfflineVerifier::remember("demo", password, "42", m_signIn));
    const QByteArray md5 = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex();
    QByteArray stored = TestFiles::read(OfflineVerifier::storeName());
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Quillet", "QuilletApp");
    for (const QString &key : settings.allKeys())
        stored += settings.value(key).toString().toUtf8() + '\n';
    QVERIFY(stored.contains("PBKDF2-HMAC-SHA256"));
    QVERIFY(!stored.contains(password.toUtf8()));
    QVERIFY(!stored.toLower().contains(md5));
#ifdef Q_OS_UNIX
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QVERIFY(!(QFile::permissions(OfflineVerifier::storeName()) & others));
#endif
}

QTEST_GUILESS_MAIN(tst_OfflineVerifier)
#include "tst_offlineverifier.moc"
