#include "formats/ExportJournal.h"

#include "formats/SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Quillmark {

namespace {

// Writers note their files under a shared lock (each note is one append to
// the journal's file, which needs no lock of its own): the copies of an
// export's threads do not wait for each other. Adding and removing journals
// takes the lock whole.
std::shared_mutex &journalsLock()
{
    static std::shared_mutex lock;
    return lock;
}

std::vector<ExportJournal *> &liveJournals()
{
    static std::vector<ExportJournal *> journals;
    return journals;
}

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir(path).absolutePath());
}

// A journal line back to the path it names relative to the folder; empty for
// a line that would lead out of it.
QString relativePathOf(const QByteArray &line)
{
    const QString relative = QString::fromUtf8(QByteArray::fromPercentEncoding(line.trimmed()));
    if (relative.isEmpty() || QDir::isAbsolutePath(relative) || relative.startsWith(QLatin1Char('/')))
        return {};
    const QStringList parts = relative.split(QLatin1Char('/'));
    if (parts.contains(QStringLiteral("..")) || parts.contains(QString()) || parts.contains(QStringLiteral(".")))
        return {};
    return relative;
}

// Whether `clean`, a clean absolute path, lies below `folder`.
bool holds(const QString &folder, const QString &clean)
{
    return clean.size() > folder.size() + 1 && clean.startsWith(folder) && clean.at(folder.size()) == QLatin1Char('/');
}

// A journal line naming `relative`, a path below the folder.
QByteArray lineOf(const QString &relative)
{
    return relative.toUtf8().toPercentEncoding("/") + '\n';
}

// Removes `path` when it is a regular file (not a link, folder, pipe).
void removeRegularFile(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    struct stat info;
    if (::lstat(bytes.constData(), &info) == 0 && S_ISREG(info.st_mode))
        ::unlink(bytes.constData());
}

} // namespace

QString ExportJournal::fileName()
{
    return QStringLiteral(".quillmark-export-unfinished");
}

ExportJournal::ExportJournal(const QString &outputFolder)
    : m_folder(cleanAbsolute(outputFolder)), m_journal(m_folder + QLatin1Char('/') + fileName())
{
    removeUnfinished();
    std::unique_lock<std::shared_mutex> guard(journalsLock());
    liveJournals().push_back(this);
}

ExportJournal::~ExportJournal()
{
    {
        std::unique_lock<std::shared_mutex> guard(journalsLock());
        auto &journals = liveJournals();
        journals.erase(std::remove(journals.begin(), journals.end(), this), journals.end());
    }
    if (m_fd >= 0)
        ::close(m_fd);
}

void ExportJournal::finish()
{
    std::unique_lock<std::shared_mutex> guard(journalsLock());
    auto &journals = liveJournals();
    journals.erase(std::remove(journals.begin(), journals.end(), this), journals.end());
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    removeRegularFile(m_journal);
}

// The files an unfinished export noted, removed where they still lie inside
// the folder, then the journal itself. A kill during this leaves the journal
// for the next export to finish the work.
void ExportJournal::removeUnfinished() const
{
    const QByteArray journalPath = QFile::encodeName(m_journal);
    struct stat info;
    if (::lstat(journalPath.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    QFile journal(m_journal);
    if (!journal.open(QIODevice::ReadOnly))
        return;
    const QString root = QFileInfo(m_folder).canonicalFilePath();
    if (root.isEmpty())
        return;
    // Whether a folder, links resolved, lies inside the output folder.
    QHash<QString, bool> inside;
    while (!journal.atEnd()) {
        const QString relative = relativePathOf(journal.readLine(64 * 1024));
        if (relative.isEmpty())
            continue;
        const QString path = m_folder + QLatin1Char('/') + relative;
        const QString parent = QFileInfo(path).path();
        auto known = inside.constFind(parent);
        if (known == inside.cend()) {
            const QString canonical = QFileInfo(parent).canonicalFilePath();
            known = inside.insert(parent, !canonical.isEmpty() &&
                                              (canonical == root || holds(root, canonical)));
        }
        if (!known.value())
            continue;
        removeRegularFile(path);
        removeRegularFile(path + temporaryFileSuffix());
    }
    journal.close();
    ::unlink(journalPath.constData());
}

void ExportJournal::note(const QString &relative)
{
    append(lineOf(relative));
}

void ExportJournal::append(const QByteArray &lines)
{
    // Opened by the first note (the folder may not be there before), then
    // every note is one append.
    std::call_once(m_opened, [this] {
        m_fd = ::open(QFile::encodeName(m_journal).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                      0666);
    });
    if (m_fd < 0 || m_failed.load(std::memory_order_relaxed))
        return;
    // One write: a kill leaves whole lines (and at worst a cut last one).
    const char *data = lines.constData();
    qsizetype left = lines.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_failed.store(true, std::memory_order_relaxed);
            return;
        }
        data += n;
        left -= n;
    }
}


void ExportJournal::noteWrite(const QString &path)
{
    const QString clean = cleanAbsolute(path);
    std::shared_lock<std::shared_mutex> guard(journalsLock());
    const auto &journals = liveJournals();
    for (ExportJournal *journal : journals) {
        if (holds(journal->m_folder, clean) && !journal->m_noted.contains(clean))
            journal->note(clean.mid(journal->m_folder.size() + 1));
    }
}

void ExportJournal::noteAhead(const QStringList &paths)
{
    std::unique_lock<std::shared_mutex> guard(journalsLock());
    for (ExportJournal *journal : liveJournals()) {
        QByteArray lines;
        for (const QString &path : paths) {
            const QString clean = cleanAbsolute(path);
            if (!holds(journal->m_folder, clean) || journal->m_noted.contains(clean))
                continue;
            // A file already there may be the source itself, which no export
            // may ever take for its own: the writer notes what it replaces.
            struct stat present;
            if (::lstat(QFile::encodeName(clean).constData(), &present) == 0 || errno != ENOENT)
                continue;
            lines.append(lineOf(clean.mid(journal->m_folder.size() + 1)));
            journal->m_noted.insert(clean);
        }
        if (!lines.isEmpty())
            journal->append(lines);
    }
}

bool ExportJournal::isWatching(const QString &path)
{
    const QString clean = cleanAbsolute(path);
    std::shared_lock<std::shared_mutex> guard(journalsLock());
    const auto &journals = liveJournals();
    return std::any_of(journals.cbegin(), journals.cend(), [&clean](const ExportJournal *journal) {
        return holds(journal->m_folder, clean) && !journal->m_noted.contains(clean);
    });
}

} // namespace Quillmark
