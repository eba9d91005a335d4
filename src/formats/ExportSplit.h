#pragma once

#include <QList>
#include <QString>

namespace Quillmark {

// One subset of a split export: its name ("train", "valid" or "test") and the
// range of the export's image order that it takes.
struct ExportSplit {
    QString name;
    int start = 0;
    int count = 0;
};

// The three subsets of n images, always train, valid, test. train and valid
// are n x percentage / 100 rounded half away from zero; test takes the rest,
// and when train and valid together exceed n, test is empty and valid takes
// what train leaves; when the rounding leaves test more images than valid
// although its share is no larger, one of them goes to valid. Percentages are
// clamped to 0..100.
QList<ExportSplit> computeExportSplits(int imageCount, int trainPct, int validPct);

} // namespace Quillmark
