#pragma once

#include <QWizardPage>

class QLabel;
class QListWidget;

namespace Quillmark {

// Last page of the new-project wizard: what will be created, with the
// "Create Project" button.
class SummaryPage : public QWizardPage {
public:
    explicit SummaryPage(QWidget *parent = nullptr);
    ~SummaryPage() override;

    // Reads the other pages afresh; runs whenever the page becomes current.
    void initializePage() override;
    // None: this is the final page.
    int nextId() const override;

    QLabel *typeValue() const { return typeLabel; }
    QLabel *nameValue() const { return nameLabel; }
    QLabel *saveLocationValue() const { return saveLocationLabel; }
    QLabel *detailCaption() const { return detailCaptionLabel; }
    QLabel *detailValue() const { return detailLabel; }
    QLabel *imagesValue() const { return imagesLabel; }
    QListWidget *itemList() const { return list; }

private:
    void showClasses();
    void showKeypoints();

    QLabel *typeLabel = nullptr;
    QLabel *nameLabel = nullptr;
    QLabel *saveLocationLabel = nullptr;
    QLabel *detailCaptionLabel = nullptr;
    QLabel *detailLabel = nullptr;
    QLabel *imagesLabel = nullptr;
    QListWidget *list = nullptr;
};

} // namespace Quillmark
