#pragma once

namespace Quillmark {

// Ids under which the new-project wizard registers its pages. Pose projects run
// Type, Setup, KeypointSchema, Import, Summary; every other type replaces the
// keypoint page by the class page.
enum WizardPageId : int {
    TypePageId = 0,
    SetupPageId = 1,
    ClassesPageId = 2,
    ImportPageId = 3,
    SummaryPageId = 4,
    KeypointSchemaPageId = 5,
};

} // namespace Quillmark
