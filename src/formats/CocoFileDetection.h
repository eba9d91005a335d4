#pragma once

#include <QString>
#include <QStringList>

namespace Quillmark {

// Finding COCO files: by their content, in a folder, and in the subset
// folders of a split dataset.

// Whether the file, a JSON object, holds the quoted keys "annotations" and at
// least one of "categories" and "images" (or, in a file larger than the
// detection bound, "images" with image records). Only a regular file is read,
// in chunks, only as far as needed and never past kMaxDetectionBytes.
bool isCocoJsonFile(const QString &path);

// The COCO file of a folder: "_annotations.coco.json" (the file of a dataset
// split into subset folders), else the first "*.json" file in name order,
// directly in the folder or else in its annotations/ folder (the release
// layout, annotations/instances_val2017.json beside val2017/). A folder of
// many large JSON files is judged by its first few. Empty when there is none.
QString cocoFileInFolder(const QString &folder);

// The COCO files of a dataset split into subset folders ("train", "valid",
// "val", "test", in that order), each holding its own file and its pictures
// beside it, as cocoFileInFolder finds them there (annotations/ aside).
QStringList cocoSubsetFiles(const QString &root);

} // namespace Quillmark
