#pragma once

#include "formats/ProgressCallback.h"
#include "model/Dataset.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Quillmark {

// A format whose dataset is one folder holding its subsets ("train", "valid",
// "test") side by side under one "data.yaml". A split export writes each
// subset into the one root and the data.yaml last, naming exactly the
// subsets written, instead of one whole dataset per subset folder.
class ISubsetExportHandler {
public:
    virtual ~ISubsetExportHandler() = default;

    // Writes the pictures and label files of `subset` of the dataset at
    // `root`; the data.yaml is not touched. `keypointCount` is the largest
    // keypoint count of the whole dataset, so that the lines of every subset
    // have the one shape the data.yaml declares.
    virtual bool exportSubset(const QString &root, const QString &subset, const Dataset &dataset,
                              int keypointCount, ProgressCallback progress) = 0;
    // The root's data.yaml for the subsets in `written` (names of subsets with
    // pictures) of the whole dataset exported (its class list, keypoint count
    // and keypoint names). It names the subsets' folders relative to itself.
    virtual QByteArray subsetDataYaml(const QStringList &written, const Dataset &dataset) const = 0;
};

} // namespace Quillmark
