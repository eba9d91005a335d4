#include "model/JsonText.h"

#include "model/MappedFile.h"
#include "model/RegularFile.h"

#include <QFile>

#include <simdjson.h>

#include <cstring>

namespace Quillmark {

static_assert(JsonText::padding >= qsizetype(simdjson::SIMDJSON_PADDING));

namespace {

// Pages are at least this large on every platform we run on, so the bytes
// between the end of a mapped file and the next multiple of it are mapped
// (and read as zero) everywhere.
constexpr qint64 smallestPageSize = 4096;
constexpr qint64 mappingThreshold = 64LL * 1024 * 1024;

const char *emptyText()
{
    static const char zeros[JsonText::padding] = {};
    return zeros;
}

} // namespace

JsonText::JsonText() : m_data(emptyText()) {}

JsonText::JsonText(QByteArrayView bytes) : m_data(emptyText())
{
    m_storage = QByteArray(bytes.size() + padding, '\0');
    if (!bytes.isEmpty())
        std::memcpy(m_storage.data(), bytes.data(), size_t(bytes.size()));
    m_data = m_storage.constData();
    m_size = bytes.size();
}

JsonText::JsonText(JsonText &&other) noexcept : m_data(emptyText())
{
    *this = std::move(other);
}

JsonText &JsonText::operator=(JsonText &&other) noexcept
{
    if (this == &other)
        return *this;
    clear();
    m_storage = std::move(other.m_storage);
    m_file = std::move(other.m_file);
    m_mapping = std::move(other.m_mapping);
    m_size = other.m_size;
    m_data = m_mapping ? m_mapping->data() : (m_storage.isEmpty() ? emptyText() : m_storage.constData());
    other.m_size = 0;
    other.m_data = emptyText();
    return *this;
}

JsonText::~JsonText()
{
    clear();
}

void JsonText::clear()
{
    m_mapping.reset();
    m_file.reset();
    m_storage = QByteArray();
    m_data = emptyText();
    m_size = 0;
}

bool JsonText::load(const QString &path, qint64 maxBytes, Mapping mapping)
{
    clear();
    auto file = std::make_unique<QFile>();
    if (!openRegularFile(*file, path))
        return false;
    const qint64 size = file->size();
    if (size < 0 || size > maxBytes)
        return false;
    const bool tailFits = size % smallestPageSize != 0 && smallestPageSize - size % smallestPageSize >= padding;
    if (mapping == Mapping::IfLarge && size >= mappingThreshold && tailFits && mapFrom(file, size))
        return true;
    return readFrom(*file, size);
}

bool JsonText::mapFrom(std::unique_ptr<QFile> &file, qint64 size)
{
    auto mapping = std::make_unique<MappedFile>(*file);
    if (!mapping->isMapped() || mapping->size() != size)
        return false;
    m_data = mapping->data();
    m_size = qsizetype(size);
    m_mapping = std::move(mapping);
    m_file = std::move(file);
    return true;
}

bool JsonText::changedSinceLoad() const
{
    return m_mapping && m_mapping->changed();
}

bool JsonText::readFrom(QFile &file, qint64 size)
{
    QByteArray storage(qsizetype(size) + padding, '\0');
    qint64 done = 0;
    while (done < size) {
        const qint64 n = file.read(storage.data() + done, size - done);
        if (n < 0)
            return false;
        if (n == 0)
            break; // the file shrank while it was read; take what it holds now
        done += n;
    }
    std::memset(storage.data() + done, 0, size_t(padding));
    m_storage = std::move(storage);
    m_data = m_storage.constData();
    m_size = qsizetype(done);
    return true;
}

} // namespace Quillmark
