#include "dialogs/AboutDialog.h"

#include "model/Version.h"
#include "chrome/IconHelpers.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

QFrame *separator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setObjectName(QStringLiteral("toolbarSeparator"));
    return line;
}

QLabel *centredLabel(const QString &text, const QString &style, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(style);
    return label;
}

} // namespace

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Quillmark"));
    setFixedWidth(360);
    setModal(true);
    setSizeGripEnabled(false);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("aboutHeader"));
    header->setStyleSheet(QStringLiteral("QWidget#aboutHeader { padding: 24px 32px 20px 32px; }"));
    auto *headerLayout = new QVBoxLayout(header);
    // A plain widget's layout ignores the sheet's padding: the layout keeps it.
    headerLayout->setContentsMargins(32, 24, 32, 20);
    headerLayout->setSpacing(10);
    headerLayout->setAlignment(Qt::AlignHCenter);

    auto *logo = new QLabel(header);
    logo->setObjectName(QStringLiteral("aboutLogo"));
    logo->setPixmap(renderSvgPixmap(QStringLiteral(":/icons/logo.svg"), 64));
    logo->setAlignment(Qt::AlignCenter);
    logo->setStyleSheet(QStringLiteral("background: transparent;"));
    headerLayout->addWidget(logo, 0, Qt::AlignHCenter);
    headerLayout->addWidget(centredLabel(QStringLiteral("Quillmark"),
                                         QStringLiteral("font-size: 20px; font-weight: 800; background: transparent;"),
                                         header));
    QLabel *version = centredLabel(QStringLiteral("Version %1").arg(QString::fromLatin1(appVersion)),
                                   QStringLiteral("font-size: 11px; background: transparent;"), header);
    version->setObjectName(QStringLiteral("mutedLabel"));
    headerLayout->addWidget(version);
    outer->addWidget(header);
    outer->addWidget(separator(this));

    auto *body = new QWidget(this);
    auto *bodyLayout = new QVBoxLayout(body);
    bodyLayout->setContentsMargins(28, 18, 28, 0);
    bodyLayout->setSpacing(10);
    QLabel *description = centredLabel(
        QString::fromUtf8("AI-powered image annotation and dataset\nformat conversion tool.\n\n"
                          "Formats: YOLO · COCO · Pascal VOC · LabelMe\nand many more."),
        QStringLiteral("font-size: 12px; background: transparent;"), body);
    description->setObjectName(QStringLiteral("aboutDescription"));
    description->setWordWrap(true);
    bodyLayout->addWidget(description);
    bodyLayout->addWidget(separator(body));
    outer->addWidget(body);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(28, 16, 28, 20);
    buttons->addStretch();
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setFixedWidth(88);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    buttons->addStretch();
    outer->addLayout(buttons);
}

AboutDialog::~AboutDialog() = default;

} // namespace Quillmark
