#include "ai/ModelLoad.h"

#include <QMetaObject>
#include <QThreadPool>

#include <mutex>

namespace Quillmark {

// What a worker shares with the ModelLoad that started it: the receiver is
// cleared when the ModelLoad goes away, so that a late worker posts nothing.
struct ModelLoad::Ticket {
    std::mutex mutex;
    ModelLoad *receiver = nullptr;
};

ModelLoad::ModelLoad(QObject *parent) : QObject(parent), ticket(std::make_shared<Ticket>())
{
    ticket->receiver = this;
}

ModelLoad::~ModelLoad()
{
    const std::lock_guard<std::mutex> lock(ticket->mutex);
    ticket->receiver = nullptr;
}

void ModelLoad::start(const QString &name, Work work, Done done)
{
    const quint64 current = ++generation;
    what = name;
    pending = std::move(done);
    setBusy(true);
    std::shared_ptr<Ticket> shared = ticket;
    QThreadPool::globalInstance()->start([shared, current, work = std::move(work)] {
        std::any result;
        try {
            result = work();
        } catch (...) {
            result = std::any(); // the engine could not start: an empty result
        }
        const std::lock_guard<std::mutex> lock(shared->mutex);
        ModelLoad *receiver = shared->receiver;
        if (!receiver)
            return;
        QMetaObject::invokeMethod(
            receiver, [receiver, current, result = std::move(result)]() mutable {
                receiver->deliver(current, std::move(result));
            },
            Qt::QueuedConnection);
    });
}

void ModelLoad::cancel()
{
    if (!busy)
        return;
    ++generation;
    pending = nullptr;
    setBusy(false);
    emit cancelled();
}

void ModelLoad::deliver(quint64 loadGeneration, std::any result)
{
    if (loadGeneration != generation || !pending)
        return; // superseded or cancelled
    Done done = std::move(pending);
    pending = nullptr;
    setBusy(false);
    done(result);
}

void ModelLoad::setBusy(bool value)
{
    if (busy == value)
        return;
    busy = value;
    emit busyChanged(busy);
}

} // namespace Quillmark
