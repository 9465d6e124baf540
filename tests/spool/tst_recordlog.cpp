#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "TestFiles.h"
#include "record/SpoolRecords.h"
#include "spool/RecordFormat.h"
#include "spool/Spool.h"

// The record log under the spools: what each run leaves for the next, what a crash leaves, files
// of earlier versions, and memory that stays bounded whatever the file's size.
namespace {

// Set in the environment of this program started again as a child that reads a spool through:
// its folder.
constexpr char kReadThrough[] = "QUILLJOT_TEST_READ_SPOOL";
constexpr qint64 kMemoryBound = 96 * 1024 * 1024;

// AddressSanitizer's shadow memory and quarantine make a process's resident size say nothing
// about what the code keeps.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeTells = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeTells = false;
#else
constexpr bool kResidentSizeTells = true;
#endif
#else
constexpr bool kResidentSizeTells = true;
#endif

QStringList eventRecord(int n) {
    return SpoolRecords::texts(
        LogEvent{QStringLiteral("2026-12-08 10:00:00"),
                 QStringLiteral("acme.sensor.house:kitchen.temp") + QString::number(n % 50),
                 QStringLiteral("xAPBSC.event"),
                 QStringLiteral("input.state\nstate=on\ntext=") + QString::number(n) +
                     QStringLiteral("\ndisplaytext=Kitchen temperature 21.5 C, reading number")});
}

QByteArray records(const QList<QStringList>& list) {
    QByteArray bytes;
    for (const QStringList& r : list) {
        RecordFormat::append(bytes, r);
    }
    return bytes;
}

QStringList lastTexts(const QList<QStringList>& records) {
    QStringList out;
    for (const QStringList& r : records) {
        out.append(r.value(r.size() - 1));
    }
    return out;
}

// The peak resident size of this process, in bytes.
qint64 peakResident() {
    for (const QByteArray& line : readFile(QStringLiteral("/proc/self/status")).split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
        }
    }
    return -1;
}

// The child's work: opens the spool in `folder` as a start does and takes every record, as the
// drainer does; says how many and the peak resident size.
int readThrough(const QString& folder) {
    Spool spool(folder, QStringLiteral("events"), qint64(1) << 40);
    const Result<Spool::Recovered> found = spool.open();
    if (!found) {
        std::fprintf(stderr, "%s\n", qPrintable(found.problem().description));
        return 1;
    }
    qint64 read = 0;
    while (!spool.isEmpty()) {
        const Result<QList<QStringList>> step = spool.peek(2000);
        if (!step || !spool.consume(int(step.value().size()))) {
            return 1;
        }
        for (const QStringList& texts : step.value()) {
            read += SpoolRecords::event(texts).data.isEmpty() ? 0 : 1;
        }
    }
    std::printf("%lld %lld %lld\n", static_cast<long long>(found.value().records),
                static_cast<long long>(read), static_cast<long long>(peakResident()));
    return 0;
}

}  // namespace

class RecordLogTest : public QObject {
    Q_OBJECT

private slots:
    // What one run spooled, the next finds in order. What was taken is not read again, even when
    // the run ended without a word; what was read but not taken (a crash before the batch was
    // stored) comes again.
    void eachRunTakesOnWhereTheLastOneStored() {
        QTemporaryDir dir;
        {
            Spool spool(dir.path(), QStringLiteral("events"), 1 << 20);
            QVERIFY(spool.open());
            for (int i = 0; i < 6; ++i) {
                QVERIFY(spool.append({QStringLiteral("s"), QString(),
                                      QStringLiteral("d \"'\u65e5") + QString::number(i)}));
            }
            QVERIFY(spool.sync());
            QCOMPARE(spool.peek(2).value().size(), 2);
            QVERIFY(spool.consume(2));
            QCOMPARE(spool.peek(2).value().size(), 2);  // then a crash
        }
        {
            Spool again(dir.path(), QStringLiteral("events"), 1 << 20);
            QCOMPARE(again.open().value().records, 4);
            const QList<QStringList> left = again.peek(3).value();
            QCOMPARE(left[0],
                     (QStringList{QStringLiteral("s"), QString(), QStringLiteral("d \"'\u65e52")}));
            QVERIFY(again.consume(3));
            QVERIFY(again.append({QStringLiteral("6")}));  // behind what waits
        }
        Spool last(dir.path(), QStringLiteral("events"), 1 << 20);
        QCOMPARE(last.open().value().records, 2);
        const QList<QStringList> left = last.peek(10).value();
        QCOMPARE(lastTexts(left),
                 (QStringList{QStringLiteral("d \"'\u65e55"), QStringLiteral("6")}));
        QVERIFY(last.consume(2));
        QVERIFY(last.isEmpty());
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    // A torn last record (a crash in the middle of a write) is cut off and a damaged one skipped;
    // both are counted and never read as records; the records around them are, and appends go
    // on after the last good one. Records larger than a read, and damage longer than one, are
    // read through too.
    void tornAndDamagedRecordsAreLeftOut() {
        QTemporaryDir dir;
        const QString big(3 * 1024 * 1024, u'x');
        QByteArray bytes = records({{QStringLiteral("0")}, {QStringLiteral("1")}});
        const qsizetype second = bytes.indexOf("qjs1", 1);
        bytes[second + 14] = char(bytes[second + 14] ^ 0x40);  // one bit of the second record
        bytes += QByteArray(3 * 1024 * 1024, 'q');             // a stretch of garbage
        bytes += records({{big}, {QStringLiteral("3")}});
        const QByteArray torn = records({{QStringLiteral("4")}});
        bytes += torn.left(torn.size() - 3);
        QVERIFY(writeFile(dir.path() + QStringLiteral("/events.spool"), bytes));

        Spool spool(dir.path(), QStringLiteral("events"), 1 << 30);
        const Result<Spool::Recovered> found = spool.open();
        QVERIFY(found);
        QCOMPARE(found.value().records, 3);
        const qsizetype damaged = bytes.indexOf("qjs1", second + 1) - second;
        QCOMPARE(found.value().cutBytes, damaged + torn.size() - 3);
        QVERIFY(spool.append({QStringLiteral("5")}));
        const QList<QStringList> left = spool.peek(10).value();
        QCOMPARE(lastTexts(left),
                 (QStringList{QStringLiteral("0"), big, QStringLiteral("3"), QStringLiteral("5")}));
    }

    // Files an earlier version left, with a position part way: read from there.
    void anEarlierVersionsSpoolIsRead() {
        QTemporaryDir dir;
        for (const char* name : {"events.spool", "events.position"}) {
            QVERIFY(QFile::copy(QFINDTESTDATA(QStringLiteral("data/") + QLatin1String(name)),
                                dir.path() + u'/' + QLatin1String(name)));
        }
        Spool spool(dir.path(), QStringLiteral("events"), 1 << 20);
        QCOMPARE(spool.open().value().records, 2);
        const QList<QStringList> left = spool.peek(10).value();
        QCOMPARE(left.size(), 2);
        QCOMPARE(SpoolRecords::event(left[0]),
                 (LogEvent{QStringLiteral("2026-12-04 10:00:01"),
                           QStringLiteral("acme.sensor.house"), QStringLiteral("xAPBSC.event"),
                           QStringLiteral("input.state\nstate=off\ntext=\u65e5\n")}));
        QCOMPARE(SpoolRecords::event(left[1]).source, QStringLiteral("acme.sensor.garden"));
        QVERIFY(spool.consume(1));
        Spool again(dir.path(), QStringLiteral("events"), 1 << 20);
        QCOMPARE(again.open().value().records, 1);
    }

    // A start reads a spool far larger than the memory it may take, in a process of its own so
    // that what this one holds does not count.
    void aLargeSpoolIsReadInBoundedMemory() {
        if (!kResidentSizeTells) {
            QSKIP("the resident size says nothing under AddressSanitizer");
        }
        QTemporaryDir dir;
        constexpr int kEvents = 600000;
        {
            QFile out(dir.path() + QStringLiteral("/events.spool"));
            QVERIFY(out.open(QIODevice::WriteOnly));
            QByteArray chunk;
            for (int i = 0; i < kEvents; ++i) {
                RecordFormat::append(chunk, eventRecord(i));
                if (chunk.size() > (1 << 20) || i == kEvents - 1) {
                    QCOMPARE(out.write(chunk), chunk.size());
                    chunk.clear();
                }
            }
            QVERIFY(out.size() > kMemoryBound);
        }
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kReadThrough), dir.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(-1));
        QCOMPARE(child.exitCode(), 0);
        const QList<QByteArray> said = child.readAllStandardOutput().trimmed().split(' ');
        QCOMPARE(said.size(), 3);
        QCOMPARE(said[0].toLongLong(), kEvents);
        QCOMPARE(said[1].toLongLong(), kEvents);
        const qint64 peak = said[2].toLongLong();
        QVERIFY2(peak > 0 && peak < kMemoryBound,
                 qPrintable(QString::number(peak / 1024) + QStringLiteral(" KiB at most")));
        QVERIFY(QDir(dir.path()).isEmpty());
    }
};

int main(int argc, char** argv) {
    if (const QString folder = qEnvironmentVariable(kReadThrough); !folder.isEmpty()) {
        return readThrough(folder);
    }
    QCoreApplication app(argc, argv);
    RecordLogTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recordlog.moc"
