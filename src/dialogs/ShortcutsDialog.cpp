#include "dialogs/ShortcutsDialog.h"

#include "dialogs/ShortcutReference.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

QLabel *namedLabel(const QString &text, const char *name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QWidget *sectionGrid(const ShortcutSection &section, QWidget *parent)
{
    auto *grid = new QWidget(parent);
    auto *layout = new QGridLayout(grid);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(14);
    layout->setVerticalSpacing(4);
    layout->setColumnStretch(1, 1);
    for (int i = 0; i < section.rows.size(); ++i) {
        QLabel *key = namedLabel(section.rows.at(i).first, "shortcutKey", grid);
        key->setAlignment(Qt::AlignCenter);
        layout->addWidget(key, i, 0);
        layout->addWidget(namedLabel(section.rows.at(i).second, "shortcutDesc", grid), i, 1);
    }
    return grid;
}

} // namespace

ShortcutsDialog::ShortcutsDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Keyboard Shortcuts"));
    setFixedWidth(440);
    setModal(false);

    auto *outer = new QVBoxLayout(this);
    outer->setSpacing(0);
    outer->setContentsMargins(0, 0, 0, 0);

    QLabel *title = namedLabel(QStringLiteral("Keyboard Shortcuts"), "shortcutTitle", this);
    title->setAlignment(Qt::AlignCenter);
    outer->addWidget(title, 0);

    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *content = new QWidget(scroll);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(20, 14, 20, 14);
    contentLayout->setSpacing(0);
    for (const ShortcutSection &section : shortcutReference) {
        contentLayout->addWidget(namedLabel(section.title.toUpper(), "shortcutSection", content));
        contentLayout->addSpacing(6);
        contentLayout->addWidget(sectionGrid(section, content));
        contentLayout->addSpacing(16);
    }
    contentLayout->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    auto *bottom = new QHBoxLayout;
    bottom->setContentsMargins(16, 8, 16, 12);
    bottom->addStretch();
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setFixedWidth(80);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    bottom->addWidget(close);
    outer->addLayout(bottom);
}

} // namespace Quillmark
