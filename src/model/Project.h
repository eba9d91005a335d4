#pragma once

#include "model/Dataset.h"

#include <QString>

namespace Quillmark {

// The open project: name, project-type key (empty = no type chosen) and dataset.
struct Project {
    QString name;
    QString projectType;
    Dataset dataset;
};

} // namespace Quillmark
