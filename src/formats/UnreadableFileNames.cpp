#include "formats/UnreadableFileNames.h"

namespace Quillmark {

namespace {

thread_local UnreadableFileNames *t_innermost = nullptr;

} // namespace

UnreadableFileNames::UnreadableFileNames() : m_outer(t_innermost)
{
    t_innermost = this;
}

UnreadableFileNames::~UnreadableFileNames()
{
    t_innermost = m_outer;
}

bool UnreadableFileNames::isCounting()
{
    return t_innermost != nullptr;
}

void UnreadableFileNames::note(const QByteArray &rawPath)
{
    for (UnreadableFileNames *scope = t_innermost; scope; scope = scope->m_outer) {
        if (scope->m_seen.contains(rawPath))
            continue;
        scope->m_seen.insert(rawPath);
        scope->m_paths.append(QString::fromUtf8(rawPath));
    }
}

} // namespace Quillmark
