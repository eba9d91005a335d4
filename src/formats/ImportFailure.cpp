#include "formats/ImportFailure.h"

#include <QDir>
#include <QXmlStreamReader>

namespace Quillmark {

namespace {

thread_local ImportFailure *t_innermost = nullptr;

} // namespace

ImportFailure::ImportFailure() : m_outer(t_innermost)
{
    t_innermost = this;
}

ImportFailure::~ImportFailure()
{
    t_innermost = m_outer;
}

void ImportFailure::note(const QString &file, const QString &what)
{
    if (!t_innermost)
        return;
    const QString reason = file.isEmpty() ? what : QDir::toNativeSeparators(file) + QStringLiteral(": ") + what;
    for (ImportFailure *scope = t_innermost; scope; scope = scope->m_outer)
        scope->m_reason = reason;
}

void ImportFailure::noteCannotOpen(const QString &file)
{
    note(file, QStringLiteral("the file cannot be opened."));
}

void ImportFailure::noteCannotLoad(const QString &file, qint64 maxBytes)
{
    note(file, QStringLiteral("the file cannot be opened or read, or it is larger than %1 MiB.")
                   .arg(maxBytes / (1024 * 1024)));
}

void ImportFailure::noteDamagedJson(const QString &file)
{
    note(file, QStringLiteral("the file is not valid JSON (damaged or cut short)."));
}

void ImportFailure::noteDamagedXml(const QString &file, const QXmlStreamReader &xml)
{
    if (!xml.hasError()) {
        note(file, QStringLiteral("the file does not hold the XML this format expects."));
        return;
    }
    note(file, QStringLiteral("damaged XML at line %1, column %2: %3")
                   .arg(xml.lineNumber())
                   .arg(xml.columnNumber())
                   .arg(xml.errorString()));
}

void ImportFailure::noteLineTooLong(const QString &file, qint64 line, qint64 maxBytes)
{
    note(file, QStringLiteral("line %1 is longer than %2 MiB (damaged file).").arg(line).arg(maxBytes / (1024 * 1024)));
}

void ImportFailure::noteNothingFound(const QString &file)
{
    note(file, QStringLiteral("no annotated image could be read from it."));
}

} // namespace Quillmark
