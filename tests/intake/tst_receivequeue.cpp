#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "intake/ReceiveQueue.h"

// The hand-off between the receiver and the writer: order across memory and overflow files,
// what a stop or a crash leaves for the next start, and a writer that is woken only when idle.
namespace {

ReceivedItem event(int n) {
    return ReceivedItem{LogEvent{QStringLiteral("2026-12-07 10:00:00"), QStringLiteral("a.b.c"),
                                 QStringLiteral("t"), QString::number(n)},
                        n % 7 == 0};
}

std::vector<ReceivedItem> batch(int first, int count) {
    std::vector<ReceivedItem> out;
    for (int i = 0; i < count; ++i) {
        if (i % 5 == 4) {
            out.push_back(ReceivedItem{LoggedMessage{QStringLiteral("t"),
                                                     QStringLiteral("s"),
                                                     {},
                                                     QStringLiteral("c"),
                                                     {},
                                                     QString::number(first + i)},
                                       false});
        } else {
            out.push_back(event(first + i));
        }
    }
    return out;
}

int number(const ReceivedItem& item) {
    if (const auto* e = std::get_if<LogEvent>(&item.what)) {
        return e->data.toInt();
    }
    return std::get<LoggedMessage>(item.what).text.toInt();
}

// Takes everything, `most` at a time; the numbers in the order they came.
QList<int> takeAll(ReceiveQueue& q, qsizetype most = 7) {
    QList<int> out;
    for (auto items = q.take(most); !items.empty(); items = q.take(most)) {
        for (const ReceivedItem& i : items) {
            out.append(number(i));
        }
    }
    return out;
}

QList<int> range(int first, int count) {
    QList<int> out;
    for (int i = 0; i < count; ++i) {
        out.append(first + i);
    }
    return out;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("received-*")}, QDir::Files);
}

}  // namespace

class ReceiveQueueTest : public QObject {
    Q_OBJECT

private slots:
    // Past its bound the queue spills to a file; the writer reads memory first, then the file,
    // and the file goes once read. Items keep every field, messages and own reports too.
    void overflowKeepsTheOrderAndGoesOnceRead() {
        QTemporaryDir dir;
        ReceiveQueue q(dir.path(), {10, 1 << 20});
        int wakes = 0;
        q.setWake([&] { ++wakes; });
        q.push(batch(1, 8));
        QCOMPARE(wakes, 1);
        q.push(batch(9, 8));  // over the bound: to the file, and so is all that follows
        q.push(batch(17, 1));
        QCOMPARE(wakes, 1);  // the writer was not idle
        QCOMPARE(filesIn(dir.path()).size(), 1);
        QCOMPARE(q.waiting(), 17);
        const auto first = q.take(100);
        QCOMPARE(int(first.size()), 8);
        QCOMPARE(first[6].ownReport, true);
        QCOMPARE(takeAll(q), range(9, 9));
        QVERIFY(filesIn(dir.path()).isEmpty());
        QCOMPARE(q.counts().overflowed, 9u);
        QCOMPARE(q.waiting(), 0);
        // Idle again: the next push wakes the writer, and goes to memory.
        q.push(batch(18, 2));
        QCOMPARE(wakes, 2);
        QCOMPARE(takeAll(q), range(18, 2));
        QVERIFY(filesIn(dir.path()).isEmpty());
    }

    // At a stop, what waits in memory goes to a file read before the overflow file it precedes;
    // the next start reads both, in order, from where a crash left the reading.
    void whatAStopLeavesIsReadFirstAtTheNextStart() {
        QTemporaryDir dir;
        {
            ReceiveQueue q(dir.path(), {10, 1 << 20});
            q.push(batch(1, 10));
            q.push(batch(11, 10));  // to the overflow file
            QCOMPARE(q.take(3).size(), std::size_t(3));
            q.keepForLater();  // 4..10 before 11..20
            QCOMPARE(filesIn(dir.path()).size(), 2);
        }
        {
            ReceiveQueue q(dir.path(), {10, 1 << 20});
            QCOMPARE(q.take(4).size(), std::size_t(4));  // 4..7, noted once the next is asked
            QCOMPARE(q.take(2).size(), std::size_t(2));  // 8, 9: then a crash
        }
        ReceiveQueue q(dir.path(), {10, 1 << 20});
        q.push(batch(21, 2));  // new traffic comes after what was left
        QCOMPARE(takeAll(q), (QList<int>{8, 9} + range(10, 13)));
        QCOMPARE(q.counts().earlier, 13u);
        QVERIFY(filesIn(dir.path()).isEmpty());
    }

    // A torn last record, as a crash during an append leaves it, and a damaged one are left out;
    // the rest is read.
    void tornAndDamagedRecordsAreLeftOut() {
        QTemporaryDir dir;
        {
            ReceiveQueue q(dir.path(), {1, 1 << 20});
            q.push(batch(1, 1));
            q.push(batch(2, 4));
        }
        const QString file =
            dir.path() + u'/' + filesIn(dir.path()).filter(QStringLiteral(".spool")).first();
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        const qsizetype third = bytes.indexOf("qjs1", bytes.indexOf("qjs1", 1) + 1);
        bytes[third + 20] = char(bytes[third + 20] ^ 0x01);
        bytes.chop(3);
        QVERIFY(f.resize(0));
        QCOMPARE(f.write(bytes), bytes.size());
        f.close();
        ReceiveQueue q(dir.path(), {10, 1 << 20});
        QCOMPARE(takeAll(q), QList<int>({2, 3}));
        QVERIFY(filesIn(dir.path()).isEmpty());
    }

    // An overflow file an earlier version left is read first: events, messages and own reports.
    void anEarlierVersionsOverflowFileIsRead() {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(QFINDTESTDATA("../spool/data/received-1.spool"),
                            dir.path() + QStringLiteral("/received-1.spool")));
        ReceiveQueue q(dir.path(), {10, 1 << 20});
        q.push(batch(1, 1));
        const std::vector<ReceivedItem> items = q.take(10);
        QCOMPARE(int(items.size()), 3);
        QCOMPARE(std::get<LogEvent>(items[0].what).data, QStringLiteral("input.state\nstate=on\n"));
        QCOMPARE(std::get<LoggedMessage>(items[1].what).uid, QStringLiteral("FF123400"));
        QVERIFY(items[2].ownReport);
        QCOMPARE(takeAll(q), QList<int>{1});
        QCOMPARE(q.counts().earlier, 3u);
    }
};

QTEST_GUILESS_MAIN(ReceiveQueueTest)
#include "tst_receivequeue.moc"
