#pragma once

namespace Quillmark {

// The part of an AI tool window that follows a run the main window carries out
// for it: its run buttons wait while the run goes on, and its progress bar
// counts the images of a run over all of them.
class AiRunPanel {
public:
    virtual void setRunning(bool running) = 0;
    // Progress of a run over images: hidden when total is below 1.
    virtual void setProgress(int current, int total) = 0;

protected:
    ~AiRunPanel() = default;
};

} // namespace Quillmark
