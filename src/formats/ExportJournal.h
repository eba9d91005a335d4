#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace Quillmark {

// The files an export writes into its output folder, noted in a journal there
// (".quillmark-export-unfinished") before each is made, so that what a killed
// or failed export left behind can be told from the user's own files. A
// shuffled split puts a picture in another folder each time: without the
// journal, an interrupted export's pictures (a partial one among them), label
// files and temporaries would stay beside the next export's and be read with
// them.
//
// Constructing a journal first removes the files an unfinished earlier export
// of the folder noted (and their temporaries); then, while the journal lives,
// every file the shared writers (SafeWrite.h) are about to make below the
// folder is noted. finish() removes the journal once the export is complete:
// its files are the dataset now. Only regular files at the noted places are
// removed: never a folder, a link, or anything outside the output folder,
// whatever a journal names.
class ExportJournal {
public:
    explicit ExportJournal(const QString &outputFolder);
    ~ExportJournal();
    ExportJournal(const ExportJournal &) = delete;
    ExportJournal &operator=(const ExportJournal &) = delete;

    // The export is complete: the journal goes.
    void finish();

    // Notes `path` in every live journal whose folder holds it; called by
    // the writers before they create a file.
    static void noteWrite(const QString &path);
    // Notes, in one append per journal, those of `paths` that nothing lies at
    // yet (files a copy is about to make): the writers then find them noted.
    // Many small appends from the copying threads cost more than the copies.
    static void noteAhead(const QStringList &paths);
    // Whether a live journal would note `path` and has not noted it ahead.
    static bool isWatching(const QString &path);

    static QString fileName();

private:
    void removeUnfinished() const;
    void note(const QString &relative);
    void append(const QByteArray &lines);

    QString m_folder;  // clean absolute path of the output folder
    QString m_journal; // the journal's path
    int m_fd = -1;     // opened on the first note
    std::once_flag m_opened;
    std::atomic<bool> m_failed{false};
    QSet<QString> m_noted; // clean paths noted ahead
};

} // namespace Quillmark
