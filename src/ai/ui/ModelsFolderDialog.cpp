#include "ai/ui/ModelsFolderDialog.h"

#include "ai/ModelsFolder.h"
#include "dialogs/Prompts.h"
#include "model/SettingsStores.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QPushButton>
#include <QSettings>

namespace Quillmark {

bool chooseModelsFolder(QWidget *parent, const QString &caption)
{
    const QString folder =
        Prompts::current().getExistingDirectory(parent, caption, QDir::homePath(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return false;
    SettingsStores::productStore().setValue(QStringLiteral("modelsDir"), folder);
    return true;
}

QPushButton *modelListButton(const QString &text, const QString &toolTip, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setFixedWidth(30);
    button->setToolTip(toolTip);
    return button;
}

QComboBox *modelListCombo(QWidget *parent)
{
    auto *combo = new QComboBox(parent);
    combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return combo;
}

void growWindowToFit(QWidget *widget)
{
    QPointer<QWidget> window = widget->window();
    QMetaObject::invokeMethod(
        window,
        [window] {
            if (window && window->isVisible())
                window->resize(window->size().expandedTo(window->sizeHint()));
        },
        Qt::QueuedConnection);
}

QString modelItemText(const QFileInfo &file)
{
    return file.fileName() + fileSizeSuffix(file.size());
}

void addModelItem(QComboBox *combo, const QFileInfo &file)
{
    combo->addItem(modelItemText(file), file.absoluteFilePath());
}

} // namespace Quillmark
