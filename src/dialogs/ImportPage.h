#pragma once

#include <QStringList>
#include <QWizardPage>

class QLabel;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace Quillmark {

// Import page of the new-project wizard: skip, or choose a folder (scanned with
// its subfolders) or single image files to import into the new project.
class ImportPage : public QWizardPage {
public:
    explicit ImportPage(QWidget *parent = nullptr);
    ~ImportPage() override;

    // The images to import; empty when skipped or nothing was found.
    const QStringList &imagePaths() const { return paths; }

    // Asks for a folder or files, by the checked mode (the "Browse…" button).
    void browse();
    // Replaces the image list by the images in `folder` and its subfolders.
    void countImages(const QString &folder);

    QRadioButton *skipButton() const { return skipRadio; }
    QRadioButton *folderButton() const { return folderRadio; }
    QRadioButton *filesButton() const { return filesRadio; }
    QWidget *pathRow() const { return pathRowWidget; }
    QLineEdit *pathEdit() const { return pathLineEdit; }
    QLabel *countLabel() const { return countTextLabel; }

private:
    void onModeChanged();
    void browseFolder();
    void browseFiles();

    QRadioButton *skipRadio = nullptr;
    QRadioButton *folderRadio = nullptr;
    QRadioButton *filesRadio = nullptr;
    QWidget *pathRowWidget = nullptr;
    QLineEdit *pathLineEdit = nullptr;
    QLabel *countTextLabel = nullptr;
    QStringList paths;
};

} // namespace Quillmark
