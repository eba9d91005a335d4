#include "formats/LabelLineFields.h"

#include "formats/SafeRead.h"

namespace Quillmark {

void splitLabelFields(QByteArrayView line, LabelFields &fields, FieldSeparators separators)
{
    fields.clear();
    const bool tabs = separators == FieldSeparators::SpacesAndTabs;
    const auto isSeparator = [tabs](char c) { return c == ' ' || (tabs && c == '\t'); };
    const qsizetype size = line.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && !isSeparator(line.at(end)))
            ++end;
        if (end > start)
            fields.append(line.sliced(start, end - start));
        start = end + 1;
    }
}

bool forEachLabelLine(const QString &path, const std::function<void(const LabelFields &)> &onLine)
{
    QByteArray bytes;
    if (!readWholeFile(path, kMaxTextFileBytes, &bytes))
        return false;
    LabelFields fields;
    forEachLine(bytes, [&](QByteArrayView line) {
        line = line.trimmed();
        if (line.isEmpty())
            return;
        splitLabelFields(line, fields);
        onLine(fields);
    });
    return true;
}

bool firstLabelLine(const QString &path, LabelFields &fields, QByteArray *storage)
{
    fields.clear();
    if (!readFirstLine(path, 4096, storage))
        return false;
    *storage = storage->trimmed();
    if (storage->isEmpty())
        return false;
    splitLabelFields(*storage, fields);
    return true;
}

QString classNameForId(qint64 id, const QStringList &names)
{
    if (id >= 0 && id < names.size())
        return names.at(qsizetype(id));
    return QStringLiteral("class_%1").arg(id);
}

QRectF boxFromCentre(float cx, float cy, float w, float h, QSize imageSize)
{
    const float left = cx - w * 0.5f;
    const float top = cy - h * 0.5f;
    if (imageSize.width() < 1 || imageSize.height() < 1)
        return QRectF(left, top, w, h);
    const float width = float(imageSize.width());
    const float height = float(imageSize.height());
    return QRectF(left * width, top * height, w * width, h * height);
}

bool isUnitNumber(QByteArrayView field)
{
    double value = 0.0;
    return parseDouble(field, &value) && value >= 0.0 && value <= 1.0;
}

} // namespace Quillmark
