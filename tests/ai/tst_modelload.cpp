// Models opened on a worker: the owner's event loop keeps running during a
// slow load, and only the latest load's result is ever handed back.

#include "QmTest.h"

#include "ai/ModelLoad.h"
#include "ai/OnnxInferencer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

#include <atomic>

using namespace Quillmark;

namespace {

QString model(const char *name)
{
    return QStringLiteral(QM_AI_MODELS_DIR "/") + QLatin1String(name);
}

// A load that takes `ms` and then yields `value`.
ModelLoad::Work slowWork(int ms, int value)
{
    return [ms, value] {
        QThread::msleep(ms);
        return std::any(value);
    };
}

} // namespace

class TestModelLoad : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QThreadPool::globalInstance()->waitForDone(); }

    // The busy state spans the load; timers of the owner's thread fire while
    // the worker works: it ends only once it has seen ten of them, however
    // slow the machine; the result comes back once.
    void slowLoadKeepsTheEventLoopRunning()
    {
        ModelLoad load;
        QSignalSpy busy(&load, &ModelLoad::busyChanged);
        std::atomic<int> ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(10);
        QList<int> results;
        const ModelLoad::Work waitForTicks = [&ticks] {
            QElapsedTimer patience;
            patience.start();
            while (ticks < 10 && patience.elapsed() < QmTest::patienceMs)
                QThread::msleep(2);
            return std::any(7);
        };
        load.start("slow.onnx", waitForTicks, [&](std::any &r) { results << std::any_cast<int>(r); });
        QVERIFY(load.isBusy());
        QCOMPARE(load.loading(), QStringLiteral("slow.onnx"));
        QCOMPARE(busy.count(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, QmTest::patienceMs);
        QCOMPARE(results.first(), 7);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks.load())));
        QVERIFY(!load.isBusy());
        QVERIFY(load.loading().isEmpty());
        QCOMPARE(busy.count(), 2);
        QCOMPARE(busy.at(1).at(0).toBool(), false);
    }

    // Cancel ends the busy state at once; the worker's late result is dropped.
    // A second cancel does nothing.
    void cancelDropsTheResult()
    {
        ModelLoad load;
        QSignalSpy cancelled(&load, &ModelLoad::cancelled);
        bool delivered = false;
        load.start("slow.onnx", slowWork(200, 1), [&](std::any &) { delivered = true; });
        load.cancel();
        QVERIFY(!load.isBusy());
        QCOMPARE(cancelled.count(), 1);
        load.cancel();
        QCOMPARE(cancelled.count(), 1);
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QVERIFY(!delivered);
    }

    // A newer load supersedes a slower older one, whichever finishes first.
    void onlyTheLatestLoadCounts_data()
    {
        QTest::addColumn<int>("olderMs");
        QTest::addColumn<int>("newerMs");
        QTest::newRow("older finishes last") << 300 << 0;
        QTest::newRow("older finishes first") << 0 << 300;
    }

    void onlyTheLatestLoadCounts()
    {
        QFETCH(int, olderMs);
        QFETCH(int, newerMs);
        ModelLoad load;
        QList<int> results;
        const auto keep = [&](std::any &r) { results << std::any_cast<int>(r); };
        load.start("older.onnx", slowWork(olderMs, 1), keep);
        load.start("newer.onnx", slowWork(newerMs, 2), keep);
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, QmTest::patienceMs);
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QCOMPARE(results, QList<int>{2});
        QVERIFY(!load.isBusy());
    }

    // The owner goes away mid-load: the worker finishes on its own and posts
    // nothing to the gone object.
    void ownerDestroyedMidLoad()
    {
        std::atomic<bool> finished = false;
        bool delivered = false;
        auto *load = new ModelLoad;
        load->start(
            "slow.onnx",
            [&finished] {
                QThread::msleep(200);
                finished = true;
                return std::any(1);
            },
            [&](std::any &) { delivered = true; });
        delete load;
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QVERIFY(finished);
        QVERIFY(!delivered);
    }

    // A real engine opened on the worker works on the owner's thread once moved
    // into place; a file that is no model comes back refused with its reason.
    void engineOpenedOnTheWorker()
    {
        ModelLoad load;
        OnnxInferencer detector;
        bool opened = false;
        load.startEngine<OnnxInferencer>(
            "det", [](OnnxInferencer &engine) { return engine.loadModel(model("det_names.onnx")); },
            [&](OnnxInferencer *engine, bool ok) {
                QVERIFY(engine);
                opened = ok;
                detector = std::move(*engine);
            });
        QTRY_VERIFY_WITH_TIMEOUT(!load.isBusy(), QmTest::patienceMs);
        QVERIFY(opened);
        QVERIFY(detector.isLoaded());
        QCOMPARE(detector.classNames().size(), 2);
        QImage picture(320, 240, QImage::Format_RGB32);
        picture.fill(Qt::gray);
        detector.run(picture, 0.25f, 0.45f);
        QVERIFY2(detector.lastError().isEmpty(), qPrintable(detector.lastError()));

        QString reason;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^OnnxInferencer::loadModel: .*"));
        load.startEngine<OnnxInferencer>(
            "missing", [](OnnxInferencer &engine) { return engine.loadModel(model("no_such_model.onnx")); },
            [&](OnnxInferencer *engine, bool ok) {
                QVERIFY(engine && !ok);
                reason = engine->lastError();
            });
        QTRY_VERIFY_WITH_TIMEOUT(!load.isBusy(), QmTest::patienceMs);
        QVERIFY(!reason.isEmpty());
        QVERIFY(detector.isLoaded()); // untouched until the owner moves a result in
    }
};

QTEST_GUILESS_MAIN(TestModelLoad)
#include "tst_modelload.moc"
