#include "service/network.h"
#include "sim/devicesimulator.h"
#include "tests/shift/shift.h"
#include "tests/support/testfiles.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

// The seeds CI runs; each seed that once broke a promise stays here once mended.
const QList<quint32> ciSeeds { 1, 47, 22, 9, 18, 2, 3, 777 };

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

// Everything under a sanitizer runs several times slower and takes more memory.
constexpr int ciSteps = sanitized ? 150 : 1000;

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace

// The shift: seeds from QUILLET_SHIFT_SEEDS ("7" or "7,8,9"), steps per seed from
// QUILLET_SHIFT_STEPS; without them the CI list. scripts/shift sets them.
class tst_Shift : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shift_data();
    void shift();

private:
    DeviceSimulator m_sim;
    QTemporaryDir m_opener;
};

void tst_Shift::initTestCase()
{
    QVERIFY(m_sim.start(0));
    // Folders are not shown: on Windows the recording stand-in takes the file explorer's
    // place, elsewhere one that does nothing (it would inherit the shift's write limit).
    QVERIFY(m_opener.isValid());
#ifdef Q_OS_WIN
    QVERIFY(TestFiles::installRecordingOpener(m_opener.path()));
#else
    const QString opener = m_opener.filePath("xdg-open");
    QVERIFY(TestFiles::write(opener, "#!/bin/sh\nexit 0\n"));
    QVERIFY(QFile::setPermissions(opener, QFile::ReadOwner | QFile::ExeOwner));
    qputenv("PATH", m_opener.path().toLocal8Bit() + ':' + qgetenv("PATH"));
#endif
    Network *network = Network::getInstance("defalut");
    QMutexLocker locker(&network->mutex);
    network->rootUrl = m_sim.rootUrl();
}

void tst_Shift::shift_data()
{
    QTest::addColumn<quint32>("seed");
    QList<quint32> seeds = ciSeeds;
    const QString asked = qEnvironmentVariable("QUILLET_SHIFT_SEEDS");
    if (!asked.isEmpty()) {
        seeds.clear();
        for (const QString &seed : asked.split(QLatin1Char(','), Qt::SkipEmptyParts))
            seeds << seed.trimmed().toUInt();
    }
    for (quint32 seed : seeds)
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

void tst_Shift::shift()
{
    QFETCH(quint32, seed);
    Shift::Options options;
    options.seed = seed;
    options.steps = environmentNumber("QUILLET_SHIFT_STEPS", ciSteps);
    options.bounds.standStillMs = environmentNumber("QUILLET_SHIFT_STANDSTILL_MS", sanitized ? 400 : 100);
    options.bounds.residentMb = sanitized ? 1024 : 150;

    QElapsedTimer clock;
    clock.start();
    Shift shift(m_sim, options);
    const bool kept = shift.run();
    const double seconds = clock.elapsed() / 1000.0;
    std::printf(
        "shift seed %u: %d steps in %.1f s, %.1f steps/s; longest stand-still %.1f ms (any gap %.1f ms), "
        "peak resident %.1f MB\n",
        seed, shift.stepsTaken(), seconds, shift.stepsTaken() / seconds, shift.longestStandStillMs(),
        shift.longestGapMs(), shift.peakResidentMb());
    std::printf("shift seed %u saw: %s\n", seed, qPrintable(shift.tally()));
    std::fflush(stdout);
    // Qt Test cuts long messages; the report goes out whole first.
    if (!kept)
        std::printf("%s\n", qPrintable(shift.report()));
    std::fflush(stdout);
    QVERIFY2(kept, qPrintable(QStringLiteral("seed %1 broke a promise, see above").arg(seed)));
}

QTEST_MAIN(tst_Shift)
#include "tst_shift.moc"
