#pragma once

#include "formats/IFormatHandler.h"
#include "formats/QpkgConnection.h"
#include "model/Annotation.h"
#include "model/Project.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace Quillmark {

// The single-file package (".qmpkg"): a whole project, media included, in one
// SQLite database. Stateless; every call opens its own connection and closes it
// before it returns, so calls may run on any thread, several at once.
//
// Writing never touches the target until the new package is complete: it is
// built in a temporary file beside the target and renamed over it only after a
// successful commit and checkpoint. Reading never writes the package's data,
// except to fold in a write-ahead log that a crashed writer left beside it.
class QpkgHandler : public IFormatHandler {
public:
    QString name() const override { return QStringLiteral("QuillPackage"); }
    QString extension() const override { return QStringLiteral("qmpkg"); }

    // A package file, or a folder whose first listed "*.qmpkg" file is one:
    // SQLite header and a "qmpkg_version" metadata row.
    bool canImport(const QString &path) const override;

    // Reads the package into `target`. False, with `target` untouched, when the
    // file is not a package or its content cannot be read.
    bool importDataset(const QString &path, Dataset &target, ProgressCallback progress) override;

    // Writes without progress and without a project type.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;
    bool exportWithoutProgress(const QString &path, const Dataset &dataset) override;

    // Writes the whole project with its project type; progress once per image.
    // `refusedMedia`, when given, receives the media stored without their
    // bytes because they are no picture or video (QpkgWriter::refusedMedia).
    static bool exportProject(const QString &path, const Project &project, ProgressCallback progress,
                              QStringList *refusedMedia = nullptr);

    // The stored project-type key, or an empty string.
    static QString readProjectType(const QString &path);

    // The writer. False on any failure; the file at `path` is then as it was.
    static bool writePackage(const QString &path, const Dataset &dataset, ProgressCallback progress,
                             const QString &projectType, QStringList *refusedMedia = nullptr);

    static std::unique_ptr<QpkgConnection> openDatabase(const QString &path, bool readOnly);
    static bool closeDatabase(QpkgConnection &connection);

    // One annotation from a stored row.
    static Annotation annotationFromRow(const QString &geomType, const QString &geometry,
                                        const QString &className, float confidence,
                                        const QString &attributesJson, int id);

    // The last component of a stored or given path ("/" and "\\" both separate),
    // so that a stored name can never reach outside the package's folder. An
    // empty result, "." and ".." give the empty string.
    static QString plainFileName(const QString &path);

    // The file name a medium read from a package goes by: the plain file name
    // of the stored name, or, when that is empty, `kind` + "_" + the row id.
    static QString mediaFileName(const QString &stored, const char *kind, qint64 id);

    // Whether the file starts with the SQLite header and holds the
    // "qmpkg_version" row.
    static bool isPackageFile(const QString &path);
};

} // namespace Quillmark
