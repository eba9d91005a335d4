#include "dialogs/ImportPage.h"

#include "dialogs/ImageFolderScan.h"
#include "dialogs/Prompts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace Quillmark {

namespace {

constexpr int browseButtonWidth = 80;
const char *const imageFileFilter = "Images (*.jpg *.jpeg *.png *.bmp *.tif *.tiff *.webp)";

// Shows the busy cursor while a folder walk blocks the window.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

ImportPage::ImportPage(QWidget *parent) : QWizardPage(parent)
{
    setTitle("Import Images");
    setSubTitle("Choose images to add to the project, or skip and import later.");

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    skipRadio = new QRadioButton("Skip — I'll import images later", this);
    folderRadio = new QRadioButton("Import from a folder", this);
    filesRadio = new QRadioButton("Import specific files", this);
    skipRadio->setChecked(true);
    layout->addWidget(skipRadio);
    layout->addWidget(folderRadio);
    layout->addWidget(filesRadio);

    pathRowWidget = new QWidget(this);
    auto *rowLayout = new QHBoxLayout(pathRowWidget);
    rowLayout->setContentsMargins(20, 0, 0, 0);
    pathLineEdit = new QLineEdit(pathRowWidget);
    pathLineEdit->setReadOnly(true);
    pathLineEdit->setPlaceholderText("Select folder…");
    auto *browseButton = new QPushButton("Browse…", pathRowWidget);
    browseButton->setFixedWidth(browseButtonWidth);
    rowLayout->addWidget(pathLineEdit);
    rowLayout->addWidget(browseButton);
    pathRowWidget->setEnabled(false);
    layout->addWidget(pathRowWidget);

    countTextLabel = new QLabel(this);
    countTextLabel->setObjectName("mutedLabel");
    layout->addWidget(countTextLabel);
    layout->addStretch();

    for (QRadioButton *radio : {skipRadio, folderRadio, filesRadio})
        connect(radio, &QRadioButton::toggled, this, [this] { onModeChanged(); });
    connect(browseButton, &QPushButton::clicked, this, [this] { browse(); });
}

ImportPage::~ImportPage() = default;

void ImportPage::browse()
{
    if (folderRadio->isChecked())
        browseFolder();
    else if (filesRadio->isChecked())
        browseFiles();
}

void ImportPage::countImages(const QString &folder)
{
    paths.clear();
    {
        const BusyCursor busy;
        paths = scanImageFolder(folder);
    }
    if (paths.isEmpty())
        countTextLabel->setText("⚠  No supported images found.");
    else
        countTextLabel->setText(QStringLiteral("→ %1 image(s) found").arg(paths.size()));
}

void ImportPage::onModeChanged()
{
    pathRowWidget->setEnabled(folderRadio->isChecked() || filesRadio->isChecked());
    if (!skipRadio->isChecked())
        return;
    paths.clear();
    pathLineEdit->clear();
    countTextLabel->clear();
}

void ImportPage::browseFolder()
{
    const QString folder = Prompts::current().getExistingDirectory(this, "Select Image Folder", QString());
    if (folder.isEmpty())
        return;
    pathLineEdit->setText(folder);
    countImages(folder);
}

void ImportPage::browseFiles()
{
    const QStringList files = Prompts::current().getOpenFileNames(this, "Select Images", QString(), imageFileFilter);
    if (files.isEmpty())
        return;
    paths = files;
    pathLineEdit->setText(QStringLiteral("(%1 files selected)").arg(files.size()));
    countTextLabel->setText(QStringLiteral("→ %1 image(s) selected").arg(files.size()));
}

} // namespace Quillmark
