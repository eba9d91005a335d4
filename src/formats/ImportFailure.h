#pragma once

#include <QString>

class QXmlStreamReader;

namespace Quillmark {

// Why a dataset import failed, told by the reader that found it. While an
// object of this class lives, readers on the calling thread note every damage
// they meet (a file that cannot be opened or is too large, damaged CSV, JSON
// or XML, a line over the bound, no annotation file). The last note is the
// one that made the import give up: readers stop at the damage they cannot
// read past. Objects nest; each keeps what was noted while it lived. Outside
// any object nothing is kept.
class ImportFailure {
public:
    ImportFailure();
    ~ImportFailure();

    ImportFailure(const ImportFailure &) = delete;
    ImportFailure &operator=(const ImportFailure &) = delete;

    // The last reason noted, "<file>: <what is wrong>" (or only the latter
    // when no file was named); empty when nothing was noted.
    QString reason() const { return m_reason; }
    bool hasReason() const { return !m_reason.isEmpty(); }

    // Notes what is wrong with the file (native separators are used to show it).
    static void note(const QString &file, const QString &what);

    // The reasons several readers meet, worded once.
    static void noteCannotOpen(const QString &file);
    static void noteCannotLoad(const QString &file, qint64 maxBytes);
    static void noteDamagedJson(const QString &file);
    static void noteDamagedXml(const QString &file, const QXmlStreamReader &xml);
    static void noteLineTooLong(const QString &file, qint64 line, qint64 maxBytes);
    static void noteNothingFound(const QString &file);

private:
    ImportFailure *m_outer;
    QString m_reason;
};

} // namespace Quillmark
