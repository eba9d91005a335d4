#pragma once

#include "formats/IFormatHandler.h"

namespace Quillmark {

// "YOLOv3 Keras": a folder with the class list "_classes.txt" and the list
// "_annotations.txt" of one line per image: the image file name, then one
// group "x1,y1,x2,y2,class id" per box, in integer pixel corners.
class YoloKerasHandler : public IFormatHandler {
public:
    QString name() const override;
    QString extension() const override;
    // A folder holding "_classes.txt" and a readable "_annotations.txt".
    bool canImport(const QString &path) const override;
    // The path is the folder or a file inside it. Adds the classes of
    // "_classes.txt" in file order; one entry per image line (an image listed
    // twice gives two entries). False when "_annotations.txt" cannot be read
    // or holds no image line.
    bool importDataset(const QString &path, Dataset &dataset, ProgressCallback progress) override;
    // False when the folder or a file cannot be written.
    bool exportDataset(const QString &path, const Dataset &dataset, ProgressCallback progress) override;

private:
    // One folder of the format (a subset folder of a split export included).
    bool canImportFolder(const QString &path) const;
    bool importFolder(const QString &path, Dataset &dataset, ProgressCallback progress);
};

} // namespace Quillmark
