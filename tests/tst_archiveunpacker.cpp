#include "service/archiveunpacker.h"

#include "sim/devicesimulator.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/testfiles.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipnewinfo.h>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

using Entries = QList<QPair<QString, QByteArray>>;
using Result = ArchiveUnpacker::Result;

Q_DECLARE_METATYPE(ArchiveUnpacker::Result)

namespace {

// Builds an archive whose entry names are stored exactly as given; symlink entries carry
// the Unix link mode in their external attributes and the link target as content.
QByteArray rawZip(const Entries &entries, const QStringList &symlinks = {})
{
    QBuffer buffer;
    QuaZip zip(&buffer);
    zip.setUtf8Enabled(true);
    if (!zip.open(QuaZip::mdCreate))
        return {};
    for (const auto &entry : entries) {
        QuaZipNewInfo info(entry.first);
        if (symlinks.contains(entry.first))
            info.externalAttr = quint32(0120777) << 16;
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, info))
            return {};
        file.write(entry.second);
        file.close();
    }
    zip.close();
    return buffer.data();
}

// Builds an archive whose names are the bytes given, without the UTF-8 flag; an entry
// with a Unicode Path name gets that field, with the CRC of its stored name unless stale.
struct RawEntry
{
    RawEntry(const QByteArray &stored, const QString &unicode = {}, bool staleCrc = false)
        : name(stored)
        , unicodePath(unicode)
        , stale(staleCrc)
    { }
    QByteArray name;
    QString unicodePath;
    bool stale;
};

QByteArray unflaggedZip(const QList<RawEntry> &entries)
{
    QBuffer buffer;
    QuaZip zip(&buffer);
    zip.setFileNameCodec(QTextCodec::codecForName("ISO-8859-1"));
    if (!zip.open(QuaZip::mdCreate))
        return {};
    for (int i = 0; i < entries.size(); ++i) {
        QuaZipNewInfo info(QString::fromLatin1(entries.at(i).name));
        if (!entries.at(i).unicodePath.isEmpty()) {
            const QByteArray utf8 = entries.at(i).unicodePath.toUtf8();
            QByteArray field
                = QByteArray::fromHex("7570") + QByteArray(2, 0) + '\x01' + QByteArray(4, 0) + utf8;
            qToLittleEndian<quint16>(quint16(5 + utf8.size()), field.data() + 2);
            const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(entries.at(i).name.constData()),
                uInt(entries.at(i).name.size()));
            qToLittleEndian<quint32>(quint32(crc) ^ (entries.at(i).stale ? 1u : 0u), field.data() + 5);
            info.extraGlobal = field;
        }
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::WriteOnly, info))
            return {};
        file.write("program " + QByteArray::number(i));
        file.close();
    }
    zip.close();
    return buffer.data();
}

QByteArray gbk(const QString &text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

// Refuses one chosen rename of the swap, as Windows does while a file of the old folder
// is held open.
class FailingUnpacker : public ArchiveUnpacker
{
public:
    explicit FailingUnpacker(int failingMove)
        : m_failingMove(failingMove)
    { }

protected:
    bool moveEntry(const QString &from, const QString &to) override
    {
        if (++m_moves == m_failingMove)
            return false;
        return ArchiveUnpacker::moveEntry(from, to);
    }

private:
    int m_failingMove;
    int m_moves = 0;
};

// Sees a disk with only so much room left.
class SmallDiskUnpacker : public ArchiveUnpacker
{
public:
    explicit SmallDiskUnpacker(qint64 spare)
        : m_spare(spare)
    { }

protected:
    qint64 spareBytes(const QString &) const override { return m_spare; }

private:
    qint64 m_spare;
};

} // namespace

class tst_ArchiveUnpacker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void safeEntryNames_data();
    void safeEntryNames();
    void unpacksIntoNewFolder();
    void replacesOldFolderExactly();
    void unpacksBeyondWindowsPathLimit();
    void unsafeArchiveUnpacksNothing_data();
    void unsafeArchiveUnpacksNothing();
    void entryNamesDecodedAlike_data();
    void entryNamesDecodedAlike();
    void unreadableArchiveChangesNothing_data();
    void unreadableArchiveChangesNothing();
    void archiveInsideItsFolderIsRefused();
    void failedSwapKeepsOldFolder_data();
    void failedSwapKeepsOldFolder();
    void tooLargeArchiveRefused_data();
    void tooLargeArchiveRefused();
    void fileCutShortKeepsOldFolder();
    void eventLoopRunsDuringUnpack();

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_ArchiveUnpacker::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void tst_ArchiveUnpacker::safeEntryNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("plain") << "panel-1.nc" << true;
    QTest::newRow("nested") << "left/top/panel-1.nc" << true;
    QTest::newRow("folder-entry") << "left/" << true;
    QTest::newRow("dots-inside-name") << "a..b.nc" << true;
    QTest::newRow("hidden-name") << ".settings" << true;
    QTest::newRow("chinese") << QString::fromUtf8("左侧板/面板.nc") << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("parent") << "../panel.nc" << false;
    QTest::newRow("parent-inside") << "a/../../panel.nc" << false;
    QTest::newRow("parent-alone") << ".." << false;
    QTest::newRow("current-alone") << "./" << false;
    QTest::newRow("absolute") << "/etc/panel.nc" << false;
    QTest::newRow("backslash-parent") << "..\\panel.nc" << false;
    QTest::newRow("backslash-inside") << "a\\b.nc" << false;
    QTest::newRow("drive-letter") << "C:/panel.nc" << false;
    QTest::newRow("drive-relative") << "c:panel.nc" << false;
    QTest::newRow("unc") << "//server/share/panel.nc" << false;
    QTest::newRow("double-slash") << "a//b.nc" << false;
    QTest::newRow("windows-trailing-dots") << "... /panel.nc" << false;
    QTest::newRow("windows-dot-space") << ". ./panel.nc" << false;
    QTest::newRow("control-character") << QStringLiteral("a\x01.nc") << false;
    QTest::newRow("nul") << QString("a") + QChar(0) + QString("b.nc") << false;
    QTest::newRow("windows-dot-space-end") << "prog/x. " << false;
    QTest::newRow("windows-device-inside") << "prog/lpt1.nc" << false;
}

void tst_ArchiveUnpacker::safeEntryNames()
{
    QFETCH(QString, name);
    QFETCH(bool, safe);
    QCOMPARE(ArchiveUnpacker::isSafeEntryName(name), safe);
}

void tst_ArchiveUnpacker::unpacksIntoNewFolder()
{
    const QString archive = path("nc/7.zip");
    QVERIFY(TestFiles::write(archive,
        DeviceSimulator::makeZip({ { "panel-1.nc", "G0 X0\n" }, { "left/panel-2.nc", "G1 X5\n" } })));

    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(archive, path("nc/7")), Result::Unpacked);
    QVERIFY(QDir().mkdir(path("fresh")));
    QCOMPARE(QFileInfo(path("nc/7")).permissions(), QFileInfo(path("fresh")).permissions());
    QVERIFY(QDir().rmdir(path("fresh")));

    const QMap<QString, QByteArray> expected { { "7.zip", TestFiles::read(archive) }, { "7", "<dir>" },
        { "7/panel-1.nc", "G0 X0\n" }, { "7/left", "<dir>" }, { "7/left/panel-2.nc", "G1 X5\n" } };
    QCOMPARE(TestFiles::snapshot(path("nc")), expected);
}

void tst_ArchiveUnpacker::replacesOldFolderExactly()
{
    const QString archive = path("nc/7.zip");
    QVERIFY(TestFiles::write(path("nc/7/stale.nc"), "old program"));
    QVERIFY(TestFiles::write(path("nc/7/panel-1.nc"), "old panel"));
    QVERIFY(TestFiles::write(path("nc/7/gone/deep.nc"), "old deep"));
    QVERIFY(TestFiles::write(archive, DeviceSimulator::makeZip({ { "panel-1.nc", "new panel" } })));

    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(archive, path("nc/7")), Result::Unpacked);

    const QMap<QString, QByteArray> expected { { "7.zip", TestFiles::read(archive) }, { "7", "<dir>" },
        { "7/panel-1.nc", "new panel" } };
    QCOMPARE(TestFiles::snapshot(path("nc")), expected);
}

// Windows' old 260-character limit: the folder, its staging twin and the files in them
// all lie beyond it, and the old folder is still replaced.
void tst_ArchiveUnpacker::unpacksBeyondWindowsPathLimit()
{
    const QString folder = path("nc/" + QString(120, 'T'));
    const QString entry = QString(60, 'd') + "/" + QString(60, 'p') + ".nc";
    QVERIFY(QFileInfo(folder + "/" + entry).absoluteFilePath().size() > 260);
    QVERIFY(TestFiles::write(folder + "/old.nc", "old"));
    QVERIFY(TestFiles::write(path("nc/long.zip"), DeviceSimulator::makeZip({ { entry, "G0\n" } })));

    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(path("nc/long.zip"), folder), Result::Unpacked);
    const QMap<QString, QByteArray> expected { { QString(60, 'd'), "<dir>" }, { entry, "G0\n" } };
    QCOMPARE(TestFiles::snapshot(folder), expected);
}

void tst_ArchiveUnpacker::unsafeArchiveUnpacksNothing_data()
{
    QTest::addColumn<QByteArray>("archive");

    const QPair<QString, QByteArray> good { "panel-1.nc", "G0 X0\n" };
    const auto withBad = [&](const QString &name) { return rawZip({ good, { name, "escaped" } }); };
    QTest::newRow("parent") << withBad("../escaped.nc");
    QTest::newRow("parent-deep") << withBad("sub/../../escaped.nc");
    QTest::newRow("parent-of-parent") << withBad("../../escaped.nc");
    QTest::newRow("absolute") << withBad(m_dir->filePath("escaped.nc"));
    QTest::newRow("backslash-parent") << withBad("..\\escaped.nc");
    QTest::newRow("drive-letter") << withBad("C:/escaped.nc");
    QTest::newRow("symlink-then-write-through")
        << rawZip({ good, { "link", m_dir->path().toUtf8() }, { "link/escaped.nc", "escaped" } }, { "link" });
    QTest::newRow("symlink-alone") << rawZip({ good, { "link", "/" } }, { "link" });
    QTest::newRow("windows-dot-space-end") << withBad("prog/x. ");
    QTest::newRow("windows-device-folder") << withBad("aux/panel.nc");
}

void tst_ArchiveUnpacker::unsafeArchiveUnpacksNothing()
{
    QFETCH(QByteArray, archive);
    QVERIFY(!archive.isEmpty());
    QVERIFY(TestFiles::write(path("work/nc/7/old.nc"), "old program"));
    QVERIFY(TestFiles::write(path("work/nc/7.zip"), archive));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_dir->path());

    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(path("work/nc/7.zip"), path("work/nc/7")), Result::UnsafeEntry);
    QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
}

// names: the files expected, each holding "program <its entry's index>", or how the
// conflicting names of a refusal end.
void tst_ArchiveUnpacker::entryNamesDecodedAlike_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<ArchiveUnpacker::Result>("result");
    QTest::addColumn<QStringList>("names");

    const QString left = QStringLiteral("左门板.nc"), right = QStringLiteral("右门板.nc");
    const QString bar = QStringLiteral("左门杆.nc");
    QTest::newRow("GBK names without the flag keep a left and a right door apart") << unflaggedZip(
        { { gbk(left) }, { gbk("门/" + right) } }) << Result::Unpacked << QStringList { left, "门/" + right };
    QTest::newRow("UTF-8 names without the flag are read as UTF-8") << unflaggedZip(
        { { left.toUtf8() }, { bar.toUtf8() } }) << Result::Unpacked << QStringList { left, bar };
    QTest::newRow("a Unicode Path field names its entry unless its CRC is stale") << unflaggedZip(
        { { "x.nc", left }, { "y.nc", right, true } }) << Result::Unpacked << QStringList { left, "y.nc" };
    QTest::newRow("a name no encoding reads is refused")
        << unflaggedZip({ { "a.nc" }, { "\xff\xfe.nc" } }) << Result::UnreadableName
        << QStringList { QStringLiteral("\ufffd") + "nc" };
    QTest::newRow("a control character is refused as unreadable")
        << rawZip({ { "a.nc", "" }, { "esc\x07.nc", "" } }) << Result::UnreadableName
        << QStringList { "esc\x07.nc" };
    QTest::newRow("two entries of one name are refused")
        << unflaggedZip({ { "p.nc" }, { "p.nc" } }) << Result::DuplicateName << QStringList { "p.nc" };
    QTest::newRow("names differing in case are refused, folders too")
        << unflaggedZip({ { "A/x.nc" }, { "a/y.nc" } }) << Result::DuplicateName << QStringList { "A、a" };
}

void tst_ArchiveUnpacker::entryNamesDecodedAlike()
{
    QFETCH(QByteArray, archive);
    QFETCH(ArchiveUnpacker::Result, result);
    QFETCH(QStringList, names);
    QVERIFY(TestFiles::write(path("nc/7/old.nc"), "old program"));
    QVERIFY(TestFiles::write(path("nc/7.zip"), archive));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(path("nc/7"));

    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(path("nc/7.zip"), path("nc/7")), result);
    if (result != Result::Unpacked) {
        // How many replacement characters a codec makes of bad bytes, and whether the byte
        // after them goes too (Windows' GB18030 takes the dot), is its own affair.
        const QString conflict = unpacker.conflictingName();
        const QString wanted = names.first();
        const bool matches = wanted.startsWith(QChar::ReplacementCharacter)
            ? conflict.contains(QChar::ReplacementCharacter) && conflict.endsWith(wanted.mid(1))
            : conflict.endsWith(wanted);
        QVERIFY2(matches, qPrintable(conflict));
        QCOMPARE(TestFiles::snapshot(path("nc/7")), before);
        return;
    }
    QMap<QString, QByteArray> expected;
    for (int i = 0; i < names.size(); ++i) {
        expected.insert(names.at(i), "program " + QByteArray::number(i));
        if (names.at(i).contains('/'))
            expected.insert(names.at(i).section('/', 0, 0), "<dir>");
    }
    QCOMPARE(TestFiles::snapshot(path("nc/7")), expected);
}

void tst_ArchiveUnpacker::unreadableArchiveChangesNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<ArchiveUnpacker::Result>("result");

    const QByteArray zip = DeviceSimulator::makeZip(
        { { "panel-1.nc", QByteArray(4000, 'G') }, { "panel-2.nc", QByteArray(4000, 'X') } });
    QByteArray corrupt = zip;
    // Damages the compressed data of the first entry; its header and the directory stay.
    corrupt[40] = char(corrupt[40] ^ 0x55);
    corrupt[41] = char(corrupt[41] ^ 0x55);

    QTest::newRow("pdf") << DeviceSimulator::makePdf("labels") << true << Result::NotAnArchive;
    QTest::newRow("empty-file") << QByteArray() << true << Result::NotAnArchive;
    // QuaZip cannot open an archive without entries.
    QTest::newRow("no-entries") << rawZip({}) << true << Result::NotAnArchive;
    QTest::newRow("missing") << QByteArray() << false << Result::NotAnArchive;
    QTest::newRow("cut-short") << zip.left(zip.size() / 2) << true << Result::NotAnArchive;
    QTest::newRow("damaged-entry") << corrupt << true << Result::ExtractFailed;
}

void tst_ArchiveUnpacker::unreadableArchiveChangesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(ArchiveUnpacker::Result, result);

    QVERIFY(TestFiles::write(path("nc/keep/old.nc"), "old program"));
    if (exists)
        QVERIFY(TestFiles::write(path("nc/7.zip"), content));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_dir->path());

    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(path("nc/7.zip"), path("nc/7")), result);
    QCOMPARE(unpacker.unpack(path("nc/7.zip"), path("nc/keep")), result);
    QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
}

void tst_ArchiveUnpacker::archiveInsideItsFolderIsRefused()
{
    QVERIFY(TestFiles::write(path("nc/other.zip"), "another task"));
    QVERIFY(TestFiles::write(path("nc/.zip"), DeviceSimulator::makeZip({ { "panel-1.nc", "G0\n" } })));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_dir->path());

    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(path("nc/.zip"), path("nc/")), Result::ArchiveInsideFolder);
    QCOMPARE(unpacker.unpack(path("nc/.zip"), m_dir->path()), Result::ArchiveInsideFolder);
    QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
}

void tst_ArchiveUnpacker::failedSwapKeepsOldFolder_data()
{
    QTest::addColumn<int>("failingMove");

    QTest::newRow("old-folder-in-use") << 1;
    QTest::newRow("new-folder-cannot-move-in") << 2;
}

void tst_ArchiveUnpacker::failedSwapKeepsOldFolder()
{
    QFETCH(int, failingMove);
    QVERIFY(TestFiles::write(path("nc/7/old.nc"), "old program"));
    QVERIFY(TestFiles::write(path("nc/7.zip"), DeviceSimulator::makeZip({ { "panel-1.nc", "new" } })));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_dir->path());

    FailingUnpacker unpacker(failingMove);
    QCOMPARE(unpacker.unpack(path("nc/7.zip"), path("nc/7")), Result::FolderKept);
    QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
}

void tst_ArchiveUnpacker::tooLargeArchiveRefused_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<qint64>("spare");
    QTest::addColumn<int>("maxEntries");

    const Entries three { { "a.nc", "G0\n" }, { "b.nc", "G1\n" }, { "c/d.nc", "G2\n" } };
    // 16 MiB that pack into some 16 KiB, on a disk with 1 MiB to spare.
    QTest::newRow("zip-bomb") << DeviceSimulator::makeZip({ { "bomb.nc", QByteArray(16 << 20, '0') } })
                              << qint64(1 << 20) << ArchiveUnpacker::defaultMaxEntries;
    QTest::newRow("too-many-entries") << DeviceSimulator::makeZip(three) << qint64(1 << 30) << 2;
}

void tst_ArchiveUnpacker::tooLargeArchiveRefused()
{
    QFETCH(QByteArray, archive);
    QFETCH(qint64, spare);
    QFETCH(int, maxEntries);
    QVERIFY(TestFiles::write(path("nc/7/old.nc"), "old program"));
    QVERIFY(TestFiles::write(path("nc/7.zip"), archive));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_dir->path());

    SmallDiskUnpacker unpacker(spare);
    unpacker.setMaxEntries(maxEntries);
    QCOMPARE(unpacker.unpack(path("nc/7.zip"), path("nc/7")), Result::TooLarge);
    QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
}

// The extractor writes through a buffer and ignores the failure when it closes the file;
// under a file size limit the last write then fails as on a full disk.
void tst_ArchiveUnpacker::fileCutShortKeepsOldFolder()
{
    QVERIFY(TestFiles::write(path("nc/7/old.nc"), "old program"));
    QVERIFY(TestFiles::write(
        path("nc/7.zip"), DeviceSimulator::makeZip({ { "panel.nc", QByteArray(11000, 'G') } })));
    const QMap<QString, QByteArray> before = TestFiles::snapshot(m_dir->path());

    ArchiveUnpacker unpacker;
    Result result = Result::Unpacked;
    {
        const FileSizeLimit limit(5 * 1024);
        if (!limit.isActive())
            QSKIP("needs a file size limit (RLIMIT_FSIZE), which this system does not offer");
        result = unpacker.unpack(path("nc/7.zip"), path("nc/7"));
    }
    QCOMPARE(result, Result::ExtractFailed);
    QCOMPARE(TestFiles::snapshot(m_dir->path()), before);
}

// A timer of the calling thread fires while the staging folder exists, that is, while the
// entries are being extracted.
void tst_ArchiveUnpacker::eventLoopRunsDuringUnpack()
{
    Entries entries;
    for (int i = 0; i < 2000; ++i)
        entries.append({ QString("part-%1/panel-%2.nc").arg(i / 100).arg(i), QByteArray(2000, 'G') });
    QVERIFY(TestFiles::write(path("nc/7.zip"), DeviceSimulator::makeZip(entries)));

    bool tickedWhileUnpacking = false;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
        if (!QDir(path("nc")).entryList({ ".7.unpack-*" }, QDir::Dirs | QDir::Hidden).isEmpty())
            tickedWhileUnpacking = true;
    });
    tick.start(0);
    ArchiveUnpacker unpacker;
    QCOMPARE(unpacker.unpack(path("nc/7.zip"), path("nc/7")), Result::Unpacked);
    QVERIFY(tickedWhileUnpacking);
}

QTEST_GUILESS_MAIN(tst_ArchiveUnpacker)
#include "tst_archiveunpacker.moc"
