#pragma once

#include "model/KeypointSchema.h"

#include <QString>
#include <QStringList>
#include <QWizardPage>

class QButtonGroup;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QWidget;

namespace Quillmark {

// Keypoint page of the new-project wizard (pose projects only): the object
// class and the keypoints, from the COCO 17 or Hand 21 template or the user's
// own list.
class KeypointSchemaPage : public QWizardPage {
public:
    explicit KeypointSchemaPage(QWidget *parent = nullptr);
    ~KeypointSchemaPage() override;

    // Complete unless the custom schema has no keypoint yet.
    bool isComplete() const override;
    // Always the import page.
    int nextId() const override;

    // The schema as it stands: object class ("person" when left blank), the
    // listed names in order and the edges of the chosen template.
    KeypointSchema schema() const;

    // Refills the list from the checked template; for Custom, with the keypoints
    // it held when another template was last chosen (none at first).
    void fillTemplateKeypoints();
    // Asks for the name of a new custom keypoint and appends it.
    void addKeypoint();
    // Deletes the current custom keypoint.
    void removeKeypoint();

    QLineEdit *objectClassEdit() const { return objectClassLineEdit; }
    QRadioButton *coco17Button() const { return coco17Radio; }
    QRadioButton *hand21Button() const { return hand21Radio; }
    QRadioButton *customButton() const { return customRadio; }
    QListWidget *keypointList() const { return list; }
    QWidget *customButtonsRow() const { return customRow; }
    QPushButton *removeButton() const { return removePushButton; }

private:
    bool isCustom() const;
    void onTemplateChanged();
    // Remembers the Custom list and object class when another template is chosen.
    void keepCustomSchema();
    void onKeypointRenamed(QListWidgetItem *item);
    void appendKeypoint(const QString &name);
    // Some item other than `item` (null: any item) has this name, ignoring case.
    bool nameTakenByOtherItem(const QString &name, const QListWidgetItem *item) const;
    void warnDuplicate();
    void updateRemoveButton();

    QLineEdit *objectClassLineEdit = nullptr;
    QButtonGroup *templates = nullptr;
    QRadioButton *coco17Radio = nullptr;
    QRadioButton *hand21Radio = nullptr;
    QRadioButton *customRadio = nullptr;
    QListWidget *list = nullptr;
    QWidget *customRow = nullptr;
    QPushButton *removePushButton = nullptr;
    QStringList customNames;
    QString customObjectClass;
    bool hasCustomObjectClass = false;
};

} // namespace Quillmark
