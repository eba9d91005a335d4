#pragma once

#include <QDir>
#include <QList>
#include <QSet>
#include <QString>

namespace Quillmark {

// Where the images of a COCO file are looked for. The file's own folder and
// its images/ come first; the release layout keeps the file in annotations/
// beside the image folder named after the file's split
// (annotations/instances_val2017.json beside val2017/), or below images/.
// Plain file names are looked up in a listing of each folder, made once, and
// the folder that held the previous image is tried first, so a dataset of
// many images costs no file-system call per image.
class CocoImageResolver {
public:
    explicit CocoImageResolver(const QString &jsonPath);

    // The path of the image the file names; a name found nowhere points into
    // images/ beside the file.
    QString resolve(const QString &fileName);

private:
    struct Folder {
        QDir dir;
        QSet<QString> names;
        bool listed;
    };

    QString find(const QString &fileName);
    bool contains(Folder &folder, const QString &name);
    // The name as written below the folder, else its last component there.
    QString existing(int index, const QString &fileName);

    QDir m_base;
    QList<Folder> m_folders;
    int m_last = 0;
};

} // namespace Quillmark
