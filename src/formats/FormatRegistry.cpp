#include "formats/FormatRegistry.h"

#include "formats/QpkgHandler.h"

namespace Quillmark {

FormatRegistry::FormatRegistry()
{
    // Handlers are created here, once each, in their fixed display order.
    m_handlers.push_back(std::make_unique<QpkgHandler>());
}

FormatRegistry &FormatRegistry::instance()
{
    static FormatRegistry registry;
    return registry;
}

QList<IFormatHandler *> FormatRegistry::handlers() const
{
    QList<IFormatHandler *> list;
    list.reserve(qsizetype(m_handlers.size()));
    for (const auto &handler : m_handlers)
        list.append(handler.get());
    return list;
}

IFormatHandler *FormatRegistry::find(const QString &name) const
{
    for (const auto &handler : m_handlers) {
        if (handler->name() == name)
            return handler.get();
    }
    return nullptr;
}

} // namespace Quillmark
