#pragma once

// The new-project wizard and the record it returns, for the new-project command.
#include "dialogs/NewProjectSpec.h"
#include "dialogs/ObjectDetectionWizard.h"
