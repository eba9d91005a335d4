// The runner of AI runs over images: work off the GUI thread, results applied to
// the entry they were computed for, entries that went, failures, cancelling,
// abandoning and destruction mid-run.

#include "ImageFileBytes.h"
#include "PipeRescue.h"
#include "QmTest.h"

#include "ai/AiBatchRun.h"
#include "model/Dataset.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include <sys/stat.h>

using namespace Quillmark;

namespace {

// An entry whose pixels are in memory, a picture of w x 1 pixels: the width
// tells which picture the worker read.
ImageEntry entryOfWidth(int id, int w)
{
    ImageEntry entry;
    entry.id = id;
    entry.filePath = QStringLiteral("mem_%1.png").arg(id);
    entry.image = QImage(w, 1, QImage::Format_RGB32);
    entry.image.fill(Qt::gray);
    return entry;
}

// Encoded bytes kept outside the entry, as a package keeps its images.
class KeptBytes : public StoredImageBytes {
public:
    explicit KeptBytes(QByteArray encoded) : bytes(std::move(encoded)) {}
    QByteArray read() const override { return bytes; }

private:
    QByteArray bytes;
};

QByteArray pngOfWidth(int w)
{
    return QmTest::filledImageBytes(w, 1, Qt::gray);
}

Annotation widthMark(int width)
{
    Annotation a;
    a.className = QStringLiteral("w%1").arg(width);
    return a;
}

// Records what the worker did; a gate can hold it inside compute.
struct Probe {
    std::atomic<int> computed{0};
    std::atomic<bool> offGuiThread{true};
    QThread *gui = QThread::currentThread();
    QSemaphore entered;
    QSemaphore gate;
    bool gated = false;
};

AiBatchRun::Task widthTask(const QList<int> &ids, const std::shared_ptr<Probe> &probe)
{
    return AiBatchRun::makeTask<int>(
        ids,
        [probe](const QImage &picture, QString *error) {
            if (QThread::currentThread() == probe->gui)
                probe->offGuiThread = false;
            ++probe->computed;
            if (probe->gated) {
                probe->entered.release();
                probe->gate.acquire();
            }
            if (picture.width() == 13)
                *error = QStringLiteral("engine says no");
            if (picture.width() == 17)
                throw std::runtime_error("thrown by the engine");
            return picture.width();
        },
        [](ImageEntry &entry, int &width) {
            entry.labels.append(widthMark(width));
            return 1;
        });
}

// Bytes whose read hangs, as a file on a network share that stopped answering
// does, until released (or for a minute at most, so that a run that waits for
// it fails its test instead of hanging it).
class StalledBytes : public StoredImageBytes {
public:
    QByteArray read() const override
    {
        entered.release();
        released.tryAcquire(1, 60000);
        returned = true;
        return pngOfWidth(9);
    }

    mutable QSemaphore entered;
    mutable QSemaphore released;
    mutable std::atomic<bool> returned{false};
};

ImageEntry stalledEntry(int id, const std::shared_ptr<StalledBytes> &bytes)
{
    ImageEntry entry;
    entry.id = id;
    entry.filePath = QStringLiteral("stalled_%1.png").arg(id);
    entry.storedBytes = bytes;
    return entry;
}

// Starts the task and waits for `finished`.
std::optional<AiBatchRun::Summary> runToEnd(AiBatchRun &runner, AiBatchRun::Task task, int timeoutMs = QmTest::patienceMs)
{
    auto summary = std::make_shared<std::optional<AiBatchRun::Summary>>();
    task.finished = [summary](const AiBatchRun::Summary &s) { *summary = s; };
    if (!runner.start(std::move(task)))
        return std::nullopt;
    // Sleeps between looks: a loop on processEvents would keep a core from
    // the run's own worker threads.
    (void)QTest::qWaitFor([&] { return summary->has_value(); }, timeoutMs);
    return *summary;
}

QStringList marks(const ImageEntry *entry)
{
    QStringList result;
    for (const Annotation &a : entry->labels)
        result.append(a.className);
    return result;
}

} // namespace

class TestAiBatchRun : public QObject {
    Q_OBJECT

private slots:
    // Every place an entry keeps its pixels reaches the worker: a decoded
    // picture, encoded bytes, bytes left in a package (whose path names no
    // file), and a file.
    void picturesFromEveryKindOfEntry()
    {
        QTemporaryDir dir;
        Dataset dataset;
        dataset.addImage(entryOfWidth(1, 10));
        ImageEntry encoded;
        encoded.id = 2;
        encoded.filePath = QStringLiteral("encoded.png");
        encoded.imageData = pngOfWidth(20);
        dataset.addImage(encoded);
        ImageEntry packaged;
        packaged.id = 3;
        packaged.filePath = QStringLiteral("packaged.png");
        packaged.storedBytes = std::make_shared<KeptBytes>(pngOfWidth(30));
        dataset.addImage(packaged);
        ImageEntry onDisk;
        onDisk.id = 4;
        onDisk.filePath = dir.filePath(QStringLiteral("file.png"));
        QFile file(onDisk.filePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(pngOfWidth(40)) > 0);
        file.close();
        dataset.addImage(onDisk);

        AiBatchRun runner(dataset);
        const auto summary = runToEnd(runner, widthTask({1, 2, 3, 4}, std::make_shared<Probe>()));
        QVERIFY(summary.has_value());
        QCOMPARE(summary->unreadable, 0);
        QCOMPARE(summary->applied, 4);
        for (int id : {1, 2, 3, 4})
            QCOMPARE(marks(dataset.imageById(id)), QStringList{QStringLiteral("w%1").arg(id * 10)});
    }

    // Ids out of order, an unreadable entry, an engine failure and an engine
    // exception: each result lands on its own entry, the others are counted.
    void resultsLandOnTheirOwnEntries()
    {
        Dataset dataset;
        dataset.addImage(entryOfWidth(5, 50));
        dataset.addImage(entryOfWidth(9, 90));
        ImageEntry unreadable;
        unreadable.id = 2;
        unreadable.filePath = QStringLiteral("/nonexistent/picture.png");
        dataset.addImage(unreadable);
        dataset.addImage(entryOfWidth(7, 13));
        dataset.addImage(entryOfWidth(3, 17));
        dataset.addImage(entryOfWidth(4, 40)); // not asked for

        auto probe = std::make_shared<Probe>();
        AiBatchRun runner(dataset);
        AiBatchRun::Task task = widthTask({9, 2, 5, 7, 3}, probe);
        QList<QPair<int, int>> progress;
        task.progress = [&progress](int done, int total) { progress.append({done, total}); };
        const auto summary = runToEnd(runner, std::move(task));
        QVERIFY(summary.has_value());

        QVERIFY(probe->offGuiThread);
        QCOMPARE(marks(dataset.imageById(5)), QStringList{"w50"});
        QCOMPARE(marks(dataset.imageById(9)), QStringList{"w90"});
        QVERIFY(dataset.imageById(2)->labels.isEmpty());
        QVERIFY(dataset.imageById(7)->labels.isEmpty());
        QVERIFY(dataset.imageById(3)->labels.isEmpty());
        QVERIFY(dataset.imageById(4)->labels.isEmpty());
        QCOMPARE(summary->total, 5);
        QCOMPARE(summary->done, 5);
        QCOMPARE(summary->applied, 2);
        QCOMPARE(summary->added, 2);
        QCOMPARE(summary->unreadable, 1);
        QCOMPARE(summary->failed, 2);
        QCOMPARE(summary->firstError, QStringLiteral("engine says no"));
        QVERIFY(!summary->cancelled && !summary->abandoned);
        QCOMPARE(progress, (QList<QPair<int, int>>{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
        QVERIFY(!runner.isRunning());
    }

    // The list changes under the run (it must not, but a result must never go
    // to the wrong entry if it does): an entry removed meanwhile is skipped, and
    // entries that moved still get their own results.
    void entriesThatWentOrMovedMeanwhile()
    {
        Dataset dataset;
        for (int id = 0; id < 4; ++id)
            dataset.addImage(entryOfWidth(id, 30 + id));
        auto probe = std::make_shared<Probe>();
        probe->gated = true;
        AiBatchRun runner(dataset);
        auto summary = std::make_shared<std::optional<AiBatchRun::Summary>>();
        AiBatchRun::Task task = widthTask({0, 1, 2, 3}, probe);
        task.finished = [summary](const AiBatchRun::Summary &s) { *summary = s; };
        QVERIFY(runner.start(std::move(task)));
        QVERIFY(!runner.start(widthTask({0}, probe))); // one run at a time

        QVERIFY(probe->entered.tryAcquire(1, QmTest::patienceMs));
        dataset.removeImage(2);
        dataset.images.prepend(entryOfWidth(99, 99));
        probe->gated = false;
        probe->gate.release(10);
        QTRY_VERIFY_WITH_TIMEOUT(summary->has_value(), QmTest::patienceMs);

        QCOMPARE(marks(dataset.imageById(0)), QStringList{"w30"});
        QCOMPARE(marks(dataset.imageById(1)), QStringList{"w31"});
        QCOMPARE(marks(dataset.imageById(3)), QStringList{"w33"});
        QVERIFY(dataset.imageById(99)->labels.isEmpty());
        QCOMPARE((*summary)->gone, 1);
        QCOMPARE((*summary)->applied, 3);
    }

    // Cancel: the picture in work finishes, nothing more is computed and
    // nothing is applied after the cancel; `finished` says how far it got.
    void cancelStopsTheRun_data()
    {
        QTest::addColumn<bool>("abandon");
        QTest::newRow("cancel") << false;
        QTest::newRow("project replaced") << true;
    }

    void cancelStopsTheRun()
    {
        QFETCH(bool, abandon);
        Dataset dataset;
        for (int id = 0; id < 6; ++id)
            dataset.addImage(entryOfWidth(id, 20 + id));
        auto probe = std::make_shared<Probe>();
        probe->gated = true;
        AiBatchRun runner(dataset);
        auto summary = std::make_shared<std::optional<AiBatchRun::Summary>>();
        AiBatchRun::Task task = widthTask({0, 1, 2, 3, 4, 5}, probe);
        task.finished = [summary](const AiBatchRun::Summary &s) { *summary = s; };
        QVERIFY(runner.start(std::move(task)));

        // Let image 0 through and its result arrive; hold the worker in image 1.
        QVERIFY(probe->entered.tryAcquire(1, QmTest::patienceMs));
        probe->gate.release();
        QVERIFY(probe->entered.tryAcquire(1, QmTest::patienceMs));
        QTRY_COMPARE(dataset.imageById(0)->labels.size(), 1);
        if (abandon)
            runner.abandon();
        else
            runner.cancel();
        probe->gate.release(10);
        QTRY_VERIFY_WITH_TIMEOUT(summary->has_value(), QmTest::patienceMs);

        QCOMPARE(probe->computed.load(), 2);
        QVERIFY(dataset.imageById(1)->labels.isEmpty());
        QCOMPARE((*summary)->done, 1);
        QCOMPARE((*summary)->added, 1);
        QVERIFY((*summary)->cancelled);
        QCOMPARE((*summary)->abandoned, abandon);
        QVERIFY(!runner.isRunning());
    }

    // The GUI thread's timers keep firing while the worker computes: each
    // picture's work waits for two ticks of a GUI timer, which never come if the
    // work ran on the GUI thread or the GUI thread waited for it. Counting ticks
    // rather than milliseconds keeps the verdict the same on a loaded machine.
    void guiThreadStaysFree()
    {
        Dataset dataset;
        QList<int> ids;
        for (int id = 0; id < 8; ++id) {
            dataset.addImage(entryOfWidth(id, 8));
            ids.append(id);
        }
        std::atomic<int> ticks{0};
        std::atomic<int> starved{0};
        AiBatchRun runner(dataset);
        AiBatchRun::Task task = AiBatchRun::makeTask<int>(
            ids,
            [&ticks, &starved](const QImage &, QString *) {
                if (starved.load() > 0)
                    return 0;
                const int seen = ticks.load();
                QElapsedTimer patience;
                patience.start();
                while (ticks.load() < seen + 2) {
                    if (patience.elapsed() > QmTest::patienceMs) {
                        ++starved;
                        break;
                    }
                    QThread::msleep(2);
                }
                return 0;
            },
            [](ImageEntry &, int &) { return 0; });

        QTimer timer;
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
        timer.start();
        const auto summary = runToEnd(runner, std::move(task), QmTest::patienceMs);
        QVERIFY(summary.has_value());
        QCOMPARE(summary->done, 8);
        QCOMPARE(starved.load(), 0);
        QVERIFY2(ticks.load() >= 16, qPrintable(QString::number(ticks.load())));
    }

    // Destroying the runner mid-run waits for the worker (whose engine the owner
    // is about to destroy) and calls no `finished`.
    void destructionWaitsForTheWorker()
    {
        Dataset dataset;
        dataset.addImage(entryOfWidth(0, 5));
        dataset.addImage(entryOfWidth(1, 5));
        auto probe = std::make_shared<Probe>();
        probe->gated = true;
        bool finished = false;
        {
            AiBatchRun runner(dataset);
            AiBatchRun::Task task = widthTask({0, 1}, probe);
            task.finished = [&finished](const AiBatchRun::Summary &) { finished = true; };
            QVERIFY(runner.start(std::move(task)));
            QVERIFY(probe->entered.tryAcquire(1, QmTest::patienceMs));
            std::thread releaser([probe] {
                QThread::msleep(100);
                probe->gate.release(10);
            });
            releaser.detach();
        }
        QCOMPARE(probe->computed.load(), 1);
        QCoreApplication::processEvents();
        QVERIFY(!finished);
        QVERIFY(dataset.imageById(0)->labels.isEmpty());
    }

    // A picture that is a named pipe with no writer is an unreadable picture
    // at once: the run reads on past it and ends.
    void pipeAmongThePicturesIsUnreadable()
    {
        QTemporaryDir dir;
        Dataset dataset;
        for (int id = 0; id < 3; ++id) {
            ImageEntry entry;
            entry.id = id;
            entry.filePath = dir.filePath(QStringLiteral("%1.png").arg(id));
            if (id == 1) {
                QCOMPARE(::mkfifo(QFile::encodeName(entry.filePath).constData(), 0600), 0);
            } else {
                QFile file(entry.filePath);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(pngOfWidth(21 + id)) > 0);
            }
            dataset.addImage(entry);
        }
        QmTest::PipeRescue rescue(dataset.images.at(1).filePath, QmTest::patienceMs);
        AiBatchRun runner(dataset);
        const auto summary = runToEnd(runner, widthTask({0, 1, 2}, std::make_shared<Probe>()), 2 * QmTest::patienceMs);
        rescue.done();
        QVERIFY2(!rescue.rescued, "the run waited for the pipe's writer");
        QVERIFY(summary.has_value());
        QCOMPARE(summary->done, 3);
        QCOMPARE(summary->unreadable, 1);
        QCOMPARE(summary->applied, 2);
        QCOMPARE(marks(dataset.imageById(2)), QStringList{QStringLiteral("w23")});
    }

    // A read that hangs holds neither a cancel nor the end of the runner (as
    // the program's exit destroys it): both return while the read still
    // hangs, which is left to end on its own.
    void stalledReadHoldsNeitherCancelNorExit()
    {
        Dataset dataset;
        const auto first = std::make_shared<StalledBytes>();
        const auto second = std::make_shared<StalledBytes>();
        dataset.addImage(entryOfWidth(0, 7));
        dataset.addImage(stalledEntry(1, first));
        dataset.addImage(entryOfWidth(2, 8));
        dataset.addImage(stalledEntry(3, second));
        const auto release = qScopeGuard([&] {
            first->released.release();
            second->released.release();
        });
        {
            AiBatchRun runner(dataset);
            auto summary = std::make_shared<std::optional<AiBatchRun::Summary>>();
            AiBatchRun::Task task = widthTask({0, 1, 2}, std::make_shared<Probe>());
            task.finished = [summary](const AiBatchRun::Summary &s) { *summary = s; };
            QVERIFY(runner.start(std::move(task)));
            QVERIFY(first->entered.tryAcquire(1, QmTest::patienceMs));
            QTRY_COMPARE(dataset.imageById(0)->labels.size(), 1);
            runner.cancel();
            QTRY_VERIFY(summary->has_value());
            QVERIFY(!first->returned);
            QVERIFY((*summary)->cancelled);
            QCOMPARE((*summary)->done, 1);

            QVERIFY(runner.start(widthTask({3}, std::make_shared<Probe>())));
            QVERIFY(second->entered.tryAcquire(1, QmTest::patienceMs));
        }
        QVERIFY(!second->returned);
        QVERIFY(dataset.imageById(2)->labels.isEmpty());
        // Released, the reads end on their own; nothing is applied.
        first->released.release();
        second->released.release();
        QTRY_VERIFY(first->returned && second->returned);
        QCoreApplication::processEvents();
        QVERIFY(dataset.imageById(1)->labels.isEmpty() && dataset.imageById(3)->labels.isEmpty());
    }

    void emptyRunFinishes()
    {
        Dataset dataset;
        AiBatchRun runner(dataset);
        const auto summary = runToEnd(runner, widthTask({}, std::make_shared<Probe>()));
        QVERIFY(summary.has_value());
        QCOMPARE(summary->total, 0);
        QCOMPARE(summary->done, 0);

        AiBatchRun::Task incomplete;
        incomplete.imageIds = {1};
        QVERIFY(!runner.start(incomplete));
    }
};

QM_TEST_MAIN(TestAiBatchRun)
#include "tst_aibatchrun.moc"
