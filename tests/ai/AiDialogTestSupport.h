#pragma once

// Shared by the tests of the AI dialogs and commands: model files of a given
// size, a dialog's widgets found by their texts, what its lists show, how its
// buttons look, the dialogs on a window with the application's style sheet,
// and working folders of their own (the dialogs look for the models folder
// from the working folder).

#include "ai/ModelsFolder.h"
#include "chrome/Theme.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QListWidget>
#include <QMainWindow>
#include <QDialog>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtGlobal>

#include <algorithm>
#include <cstdlib>

namespace AiDialogTest {

// A file of `size` bytes, with its folders.
inline void makeFile(const QString &path, qint64 size = 100)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qFatal("cannot write %s", qPrintable(path));
}

// The push button with exactly this text; the test stops when there is none.
// True when `widget` lies in a dialog embedded below `parent` (a panel hosted in
// a tab), whose buttons are its own.
inline bool insideEmbeddedDialog(QWidget *widget, QWidget *parent)
{
    for (QWidget *w = widget->parentWidget(); w && w != parent; w = w->parentWidget()) {
        if (qobject_cast<QDialog *>(w))
            return true;
    }
    return false;
}

// The button of `parent` with this text; one of an embedded panel only when
// `parent` has none of its own.
inline QPushButton *buttonWithText(QWidget *parent, const QString &text)
{
    QPushButton *embedded = nullptr;
    for (QPushButton *button : parent->findChildren<QPushButton *>()) {
        if (button->text() != text)
            continue;
        if (!insideEmbeddedDialog(button, parent))
            return button;
        if (!embedded)
            embedded = button;
    }
    if (embedded)
        return embedded;
    qFatal("no button %s", qPrintable(text));
    return nullptr;
}

inline QGroupBox *groupTitled(QWidget *parent, const QString &titleStart)
{
    for (QGroupBox *group : parent->findChildren<QGroupBox *>()) {
        if (group->title().startsWith(titleStart))
            return group;
    }
    qFatal("no group %s", qPrintable(titleStart));
    return nullptr;
}

// The texts of a combo box's entries, a separator as "---".
inline QStringList comboTexts(const QComboBox *combo)
{
    QStringList texts;
    const auto *model = qobject_cast<const QStandardItemModel *>(combo->model());
    for (int i = 0; i < combo->count(); ++i) {
        const bool separator =
            model && model->item(i) &&
            model->item(i)->data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator");
        texts.append(separator ? QStringLiteral("---") : combo->itemText(i));
    }
    return texts;
}

inline QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// How far the strongest pixel of a button's label stands out from its face, in
// grey levels: a disabled button must show a dimmer label than an enabled one.
inline int textContrast(QPushButton *button)
{
    const QImage image = button->grab().toImage();
    const int face = qGray(image.pixel(4, image.height() / 2));
    int contrast = 0;
    for (int y = image.height() / 4; y < image.height() * 3 / 4; ++y) {
        for (int x = 6; x < image.width() - 6; ++x)
            contrast = std::max(contrast, std::abs(qGray(image.pixel(x, y)) - face));
    }
    return contrast;
}

// The current entry's text fits in the combo box, beside its arrow.
inline bool showsWholeText(const QComboBox *combo)
{
    return combo->width() > combo->fontMetrics().horizontalAdvance(combo->currentText()) + 20;
}

// A dialog as a child of a window with the application's style sheet, as in the
// program.
template <typename Dialog> struct StyledHost {
    QMainWindow window;
    Dialog *dialog = nullptr;

    explicit StyledHost(Quillmark::Theme::Mode mode = Quillmark::Theme::Light)
    {
        window.setStyleSheet(Quillmark::buildAppStyleSheet(mode));
        window.resize(900, 700);
        dialog = new Dialog(&window);
    }
};

// The test program runs from a folder without a "models" folder at or above
// it, so that each test decides where the models are.
inline bool runsAwayFromModels()
{
    return Quillmark::findModelsFolder(QCoreApplication::applicationDirPath()).isEmpty();
}

// Fresh working folders under one temporary folder; the working folder the test
// started in comes back with restore().
class WorkingFolders {
public:
    WorkingFolders() : original(QDir::currentPath()) {}
    ~WorkingFolders() { restore(); }
    WorkingFolders(const WorkingFolders &) = delete;
    WorkingFolders &operator=(const WorkingFolders &) = delete;

    bool isValid() const { return root.isValid(); }
    QString path(const QString &name) const { return root.filePath(name); }

    // Works in a fresh folder of that name; returns its path.
    QString workIn(const QString &name)
    {
        const QString dir = root.filePath(name);
        QDir().mkpath(dir);
        if (!QDir::setCurrent(dir))
            qFatal("cannot work in %s", qPrintable(dir));
        return dir;
    }

    void restore() { QDir::setCurrent(original); }

private:
    QTemporaryDir root;
    QString original;
};

} // namespace AiDialogTest
