#pragma once

#include "formats/IFormatHandler.h"

#include <QList>
#include <QString>

#include <memory>
#include <vector>

namespace Quillmark {

// The process-wide, fixed-order list of dataset-format handlers.
class FormatRegistry {
public:
    static FormatRegistry &instance();

    // All handlers in registry order; the registry keeps ownership.
    QList<IFormatHandler *> handlers() const;

    // The first handler whose display name equals `name` exactly, or null.
    IFormatHandler *find(const QString &name) const;

private:
    FormatRegistry();
    FormatRegistry(const FormatRegistry &) = delete;
    FormatRegistry &operator=(const FormatRegistry &) = delete;

    std::vector<std::unique_ptr<IFormatHandler>> m_handlers;
};

} // namespace Quillmark
