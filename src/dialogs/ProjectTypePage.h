#pragma once

#include <QHash>
#include <QWizardPage>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QWizard;

namespace Quillmark {

// First page of the new-project wizard: six illustrated buttons, one per
// project type, with the description of the checked type below them.
class ProjectTypePage : public QWizardPage {
public:
    explicit ProjectTypePage(bool dark, QWidget *parent = nullptr);
    ~ProjectTypePage() override;

    // Key of the checked type, or an empty string when none is checked.
    QString selectedType() const;
    bool isComplete() const override;

    // The button of a project type, or null for a key the page does not offer.
    QAbstractButton *typeButton(const QString &typeKey) const;

    // The type checked on the type page of `wizard`; empty when it has none.
    static QString typeChosenIn(const QWizard *wizard);

private:
    void updateDescription();

    QButtonGroup *buttons = nullptr;
    QHash<QAbstractButton *, QString> keyOfButton;
    QLabel *descriptionLabel = nullptr;
};

} // namespace Quillmark
