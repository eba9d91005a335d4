#include "formats/ExportSplit.h"

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

int share(int imageCount, int pct)
{
    const qint64 product = qint64(imageCount) * std::clamp(pct, 0, 100);
    return int(std::round(double(product) / 100.0));
}

} // namespace

QList<ExportSplit> computeExportSplits(int imageCount, int trainPct, int validPct)
{
    const int n = std::max(imageCount, 0);
    const int train = share(n, trainPct);
    int valid = share(n, validPct);
    int test = n - train - valid;
    if (test < 0) {
        test = 0;
        valid = n - train;
    }
    // Rounding both shares down leaves their images to test, which must not
    // end up with more than valid when its share is no larger (2 images at
    // 70/20/10 are 1/1/0, not 1/0/1).
    const int testPct = 100 - std::clamp(trainPct, 0, 100) - std::clamp(validPct, 0, 100);
    if (test > valid && testPct <= std::clamp(validPct, 0, 100)) {
        --test;
        ++valid;
    }
    return {
        {QStringLiteral("train"), 0, train},
        {QStringLiteral("valid"), train, valid},
        {QStringLiteral("test"), train + valid, test},
    };
}

} // namespace Quillmark
