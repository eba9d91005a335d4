#pragma once

#include <QString>

namespace Quillmark {

// The settings of one dataset export, as chosen in the export dialog and
// consumed by runExportJob. A plain value type; a fresh record holds the
// dialog's defaults.
struct ExportConfig {
    QString format;            // display name of the chosen format; empty when none
    QString outputPath;        // output folder, trimmed
    bool split = false;        // split into train / valid / test
    int trainPct = 70;
    int validPct = 20;
    int testPct = 10;          // shown in the dialog; the job derives test itself
    bool copyImages = true;
    bool generateYaml = true;
    bool shuffle = true;
    bool embedBase64 = false;  // LabelMe: embed the pixels in each JSON file
};

} // namespace Quillmark
