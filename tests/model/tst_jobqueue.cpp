// The queue that parses a large project's batches on several threads: every
// job runs once, on a thread whose number is in range, no more jobs wait
// than allowed, and finish() returns only when all of them have run.

#include "QmTest.h"

#include "model/JobQueue.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace Quillmark;

class TestJobQueue : public QObject {
    Q_OBJECT
private slots:
    void runsEveryJobOnce_data();
    void runsEveryJobOnce();
    void destructorWaitsForQueuedJobs();
};

void TestJobQueue::runsEveryJobOnce_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("waiting");
    QTest::addColumn<int>("jobs");
    QTest::newRow("one thread") << 1 << 1 << 50;
    QTest::newRow("more threads than jobs") << 8 << 16 << 3;
    QTest::newRow("many jobs, little room") << 4 << 2 << 2000;
}

void TestJobQueue::runsEveryJobOnce()
{
    QFETCH(int, threads);
    QFETCH(int, waiting);
    QFETCH(int, jobs);
    std::vector<std::atomic<int>> runs(static_cast<size_t>(jobs));
    std::atomic<int> badThread{0};
    std::atomic<int> mostQueued{0};
    std::atomic<int> queued{0};
    {
        JobQueue queue(threads, waiting);
        for (int i = 0; i < jobs; ++i) {
            const int now = ++queued;
            mostQueued = std::max(mostQueued.load(), now);
            queue.submit([&, i](int thread) {
                --queued;
                if (thread < 0 || thread >= threads)
                    ++badThread;
                if (i % 97 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                ++runs[size_t(i)];
            });
        }
        queue.finish();
        for (int i = 0; i < jobs; ++i)
            QCOMPARE(runs[size_t(i)].load(), 1);
    }
    QCOMPARE(badThread.load(), 0);
    // Jobs counted from before submit() until they start: at most those
    // waiting, those running, and the one being submitted.
    QVERIFY2(mostQueued.load() <= waiting + threads + 1, qPrintable(QString::number(mostQueued.load())));
}

void TestJobQueue::destructorWaitsForQueuedJobs()
{
    std::atomic<int> done{0};
    {
        JobQueue queue(2, 8);
        for (int i = 0; i < 8; ++i)
            queue.submit([&](int) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ++done;
            });
    }
    QCOMPARE(done.load(), 8);
}

QM_TEST_MAIN(TestJobQueue)
#include "tst_jobqueue.moc"
