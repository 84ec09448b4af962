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

// What CI runs, and the bounds the client keeps meanwhile: stand-still until the first task
// window is painted and after it, resident memory, how late a reload or retry may come.
// Each seed that once broke a promise stays in its list once mended.
struct Shifts
{
    QList<quint32> seeds;
    int steps;
    ShiftInvariants::Bounds bounds;
};
const QList<quint32> linuxSeeds { 1, 47, 22, 9, 18, 2, 3, 777 };
const Shifts onLinux { linuxSeeds, 1000, { 100, 100, 150, 0, 0 } };
// Everything under a sanitizer runs several times slower and takes more memory.
const Shifts sanitizedOnLinux { linuxSeeds, 150, { 400, 400, 1024, 0, 0 } };
// Windows builds are tested under Wine: its first window sets up fonts and the display, its
// timers and process starts run late on a busy machine, and its working set holds Wine
// itself. Fewer steps keep the suite short.
const Shifts underWine { { 47, 1, 22, 9 }, 300, { 3000, 250, 250, 3000, 0 } };
#ifdef Q_OS_WIN
const Shifts &ci = underWine;
#else
const Shifts &ci = sanitized ? sanitizedOnLinux : onLinux;
#endif

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
    QList<quint32> seeds = ci.seeds;
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
    options.steps = environmentNumber("QUILLET_SHIFT_STEPS", ci.steps);
    options.bounds = ci.bounds;
#ifdef Q_OS_WIN
    options.openerFolder = m_opener.path();
#endif
    options.bounds.standStillMs = environmentNumber("QUILLET_SHIFT_STANDSTILL_MS", ci.bounds.standStillMs);

    QElapsedTimer clock;
    clock.start();
    Shift shift(m_sim, options);
    const bool kept = shift.run();
    const double seconds = clock.elapsed() / 1000.0;
    std::printf(
        "shift seed %u: %d steps in %.1f s, %.1f steps/s; stand-still %.1f ms until the first task window "
        "was painted, %.1f ms longest after (any gap %.1f ms); peak resident %.1f MB\n",
        seed, shift.stepsTaken(), seconds, shift.stepsTaken() / seconds, shift.firstStandStillMs(),
        shift.longestStandStillMs(), shift.longestGapMs(), shift.peakResidentMb());
    std::printf("shift seed %u saw: %s; folders shown %d\n", seed, shift.tally().toUtf8().constData(),
        shift.foldersShown());
    std::fflush(stdout);
    // Qt Test cuts long messages; the report goes out whole first.
    if (!kept)
        std::printf("%s\n", shift.report().toUtf8().constData());
    std::fflush(stdout);
    QVERIFY2(kept, qPrintable(QStringLiteral("seed %1 broke a promise, see above").arg(seed)));
}

QTEST_MAIN(tst_Shift)
#include "tst_shift.moc"
