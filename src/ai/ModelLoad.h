#pragma once

#include <QObject>
#include <QString>

#include <any>
#include <functional>
#include <memory>

namespace Quillmark {

// Opens a model on a worker thread, so that a large or slow model file never
// stops the window, and hands the result back on the owner's thread.
//
// Only the latest load counts: starting another load or cancelling drops the
// result of the one before, which then finishes in the background and is
// thrown away; so is the result of a load still running when the ModelLoad is
// destroyed. A stale engine is therefore never handed back.
//
//     loader.start([path] { auto engine = std::make_shared<Engine>();   // worker
//                           engine->loadModel(path); return std::any(engine); },
//                  [this](std::any &result) { ... });                    // owner's thread
class ModelLoad : public QObject {
    Q_OBJECT

public:
    using Work = std::function<std::any()>;
    using Done = std::function<void(std::any &result)>;

    explicit ModelLoad(QObject *parent = nullptr);
    ~ModelLoad() override;

    // Supersedes a load still running. `work` runs on a worker thread and must
    // touch nothing the owner's thread uses; `done` runs on the owner's thread.
    // `what` names the load (its file) while it runs.
    void start(const QString &what, Work work, Done done);
    // Opens a fresh Engine on the worker with `open`; `done` receives it (to be
    // moved from) with open's verdict, or null when the engine could not start.
    template<typename Engine>
    void startEngine(const QString &what, std::function<bool(Engine &)> open,
                     std::function<void(Engine *engine, bool ok)> done)
    {
        using Result = std::pair<std::shared_ptr<Engine>, bool>;
        start(
            what,
            [open = std::move(open)] {
                auto engine = std::make_shared<Engine>();
                const bool ok = open(*engine);
                return std::any(Result{engine, ok});
            },
            [done = std::move(done)](std::any &result) {
                auto *opened = std::any_cast<Result>(&result);
                if (!opened || !opened->first) {
                    done(nullptr, false);
                    return;
                }
                done(opened->first.get(), opened->second);
            });
    }
    // Drops the running load's result; busyChanged(false) and cancelled() follow
    // at once. Nothing happens when no load runs.
    void cancel();
    bool isBusy() const { return busy; }
    // What the running load opens; empty when none runs.
    QString loading() const { return busy ? what : QString(); }

signals:
    void busyChanged(bool busy);
    void cancelled();

private:
    struct Ticket;
    void deliver(quint64 generation, std::any result);
    void setBusy(bool value);

    std::shared_ptr<Ticket> ticket;
    quint64 generation = 0;
    Done pending;
    QString what;
    bool busy = false;
};

} // namespace Quillmark
