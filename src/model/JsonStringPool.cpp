#include "model/JsonStringPool.h"

namespace Quillmark {

const QString *JsonStringPool::find(QByteArrayView raw)
{
    // Class names mostly come in runs; try the last one before hashing.
    if (m_last && m_lastRaw == raw)
        return m_last;
    const auto it = m_strings.constFind(QByteArray::fromRawData(raw.data(), raw.size()));
    if (it == m_strings.constEnd())
        return nullptr;
    m_last = &it.value();
    m_lastRaw = it.key();
    return m_last;
}

void JsonStringPool::insert(QByteArrayView raw, const QString &text)
{
    if (m_strings.size() >= m_capacity)
        return;
    const auto it = m_strings.insert(raw.toByteArray(), text);
    // Inserting may move every entry: only the new one's place is known now.
    m_last = &it.value();
    m_lastRaw = it.key();
}

} // namespace Quillmark
