#include "QmTest.h"
#include "ScriptedPrompts.h"
#include "WizardDriver.h"

#include "ai/CocoClassNames.h"
#include "dialogs/ImageFolderScan.h"
#include "dialogs/ImportPage.h"
#include "dialogs/KeypointSchemaPage.h"
#include "dialogs/WizardPageId.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace QmTest;

namespace {

QStringList classNames(const ClassesPage *page)
{
    QStringList names;
    for (const ClassEntry &entry : page->classes())
        names.append(entry.name);
    return names;
}

QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

// Moves a fresh wizard of the given type to its class or keypoint page.
void openSecondStep(ObjectDetectionWizard &wizard, const QString &type)
{
    wizard.show();
    chooseType(wizard, type);
    wizard.next();
    typeName(wizard, "Test");
    wizard.next();
}

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

QStringList relative(const QString &root, const QStringList &paths)
{
    QStringList names;
    for (const QString &path : paths)
        names.append(QDir(root).relativeFilePath(path));
    return names;
}

} // namespace

class TestWizardPages : public QObject {
    Q_OBJECT
private slots:
    void classDuplicatesIgnoreCase();
    void paletteWraps();
    void templatesAddedTwice();
    void removeSelectionAndClearAll();
    void classesFollowTheProjectType();
    void classEditDialogColour();
    void keypointTemplates();
    void customKeypoints();
    void customKeypointRenameRules();
    void folderScan();
    void folderImagesInNaturalOrder();
    void importPageModes();
};

void TestWizardPages::classDuplicatesIgnoreCase()
{
    ScriptedPrompts prompts;
    PromptsOverride installed(&prompts);
    ScriptedClassEditor editor;
    ObjectDetectionWizard wizard;
    ClassesPage *page = wizard.classesPage();
    page->setEditorRunner(editor.runner());
    openSecondStep(wizard, "object_detection");
    QCOMPARE(wizard.currentId(), int(ClassesPageId));
    QVERIFY(!nextEnabled(wizard));

    editor.names = QStringList{"car", "Car", "  truck  ", "   "};
    for (int i = 0; i < 4; ++i)
        page->addClass();
    page->addClass(); // cancelled: the editor has no more names
    QCOMPARE(classNames(page), (QStringList{"car", "truck"}));
    QCOMPARE(editor.titles.first(), QString("Add Class"));
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls[0].kind, QString("warning"));
    QCOMPARE(prompts.calls[0].title, QString("Duplicate"));
    QCOMPARE(prompts.calls[0].text, QString("Class already exists."));
    QVERIFY(nextEnabled(wizard));
    QVERIFY(page->hasClass("TRUCK"));

    // Editing: another class's name, in any case, is refused; a change of case
    // of the class itself, the same name with a new colour, or a fresh name is
    // taken.
    editor.names = QStringList{"Car", "TRUCK", "Car", " auto "};
    editor.colors = {QColor("#111111"), QColor("#222222"), QColor("#333333"), QColor("#444444")};
    page->listWidget()->setCurrentRow(0);
    page->editClass();
    QCOMPARE(classNames(page), (QStringList{"Car", "truck"}));
    QCOMPARE(prompts.calls.size(), 1);
    for (int i = 0; i < 3; ++i) {
        page->listWidget()->setCurrentRow(0);
        page->editClass();
    }
    QCOMPARE(editor.titles.last(), QString("Edit Class"));
    QCOMPARE(prompts.calls.size(), 2);
    QCOMPARE(classNames(page), (QStringList{"auto", "truck"}));
    QCOMPARE(page->classes()[0].color, QColor("#444444"));
    QCOMPARE(listTexts(page->listWidget()), (QStringList{"auto", "truck"}));
}

void TestWizardPages::paletteWraps()
{
    ScriptedClassEditor editor;
    ObjectDetectionWizard wizard;
    ClassesPage *page = wizard.classesPage();
    page->setEditorRunner(editor.runner());
    openSecondStep(wizard, "segmentation");

    const QStringList palette = {"#dc3232", "#3282dc", "#32b450", "#ffa000", "#a046c8", "#00b4b4",
                                 "#e664aa", "#b48c32", "#5ac88c", "#c85a32", "#dc3232"};
    for (int i = 0; i < palette.size(); ++i) {
        editor.names = QStringList{QString("c%1").arg(i)};
        page->addClass();
    }
    QCOMPARE(page->classes().size(), 11);
    for (int i = 0; i < palette.size(); ++i)
        QCOMPARE(page->classes()[i].color.name(), palette[i]);

    page->clearAll();
    editor.names = QStringList{"a", "b", "c"};
    for (int i = 0; i < 3; ++i)
        page->addClass();
    page->addTemplateClasses(0);
    QCOMPARE(page->classes()[3].name, QString("person"));
    QCOMPARE(page->classes()[3].color, QColor("#FFA000"));
    QCOMPARE(page->classes()[4].color, QColor("#A046C8"));
}

void TestWizardPages::templatesAddedTwice()
{
    ObjectDetectionWizard wizard;
    openSecondStep(wizard, "object_detection");
    ClassesPage *page = wizard.classesPage();

    page->addTemplateClasses(1);
    page->addTemplateClasses(1);
    QCOMPARE(classNames(page), cocoClassNames);
    QCOMPARE(page->classes().size(), 80);
    QCOMPARE(page->classes().first().name, QString("person"));
    QCOMPARE(page->classes().last().name, QString("toothbrush"));
    // COCO's own spellings, at their places in the category order.
    const QList<QPair<int, QString>> spelled = {{3, "motorcycle"},    {4, "airplane"},      {57, "couch"},
                                                {58, "potted plant"}, {60, "dining table"}, {62, "tv"},
                                                {78, "hair drier"}};
    for (const auto &[index, name] : spelled)
        QCOMPARE(page->classes().at(index).name, name);

    page->addTemplateClasses(2);
    QCOMPARE(classNames(page).mid(80),
             (QStringList{"aeroplane", "diningtable", "motorbike", "pottedplant", "sofa", "tvmonitor"}));
    page->addTemplateClasses(0);
    QCOMPARE(page->classes().size(), 86);
    QCOMPARE(page->listWidget()->count(), 86);
    page->addTemplateClasses(7); // not a template
    QCOMPARE(page->classes().size(), 86);
}

void TestWizardPages::removeSelectionAndClearAll()
{
    ObjectDetectionWizard wizard;
    openSecondStep(wizard, "classification");
    ClassesPage *page = wizard.classesPage();
    page->addTemplateClasses(0); // person, car, bicycle, motorcycle, bus, ...
    QListWidget *list = page->listWidget();

    list->item(1)->setSelected(true);
    QVERIFY(page->editButton()->isEnabled());
    QCOMPARE(page->removeButton()->text(), QString("Remove"));
    list->item(3)->setSelected(true);
    list->item(4)->setSelected(true);
    QCOMPARE(page->removeButton()->text(), QString("Remove (3)"));
    QVERIFY(!page->editButton()->isEnabled());
    QVERIFY(page->removeButton()->isEnabled());

    page->removeButton()->click();
    QCOMPARE(classNames(page).mid(0, 4), (QStringList{"person", "bicycle", "truck", "dog"}));
    QCOMPARE(page->classes().size(), 8);
    QVERIFY(!page->removeButton()->isEnabled());

    QVERIFY(page->clearButton()->isEnabled());
    page->clearButton()->click();
    QVERIFY(page->classes().isEmpty());
    QCOMPARE(list->count(), 0);
    QVERIFY(!nextEnabled(wizard));
    // Nothing left to clear: the button would do nothing.
    QVERIFY(!page->clearButton()->isEnabled());
}

void TestWizardPages::classesFollowTheProjectType()
{
    ObjectDetectionWizard wizard;
    openSecondStep(wizard, "object_detection");
    ClassesPage *page = wizard.classesPage();
    page->addTemplateClasses(2);

    // Back to the type page with the type unchanged: the classes stay.
    wizard.back();
    wizard.back();
    QVERIFY(pressNext(wizard));
    typeName(wizard, "Again");
    QVERIFY(pressNext(wizard));
    QCOMPARE(page->classes().size(), 20);

    // Another type starts the list afresh; "face" starts with its class.
    wizard.back();
    wizard.back();
    chooseType(wizard, "face");
    QVERIFY(pressNext(wizard));
    typeName(wizard, "Faces");
    QVERIFY(pressNext(wizard));
    QCOMPARE(page->classes(), (QList<ClassEntry>{{"face", QColor("#DC3232")}}));
    QCOMPARE(listTexts(page->listWidget()), QStringList{"face"});
    QVERIFY(nextEnabled(wizard));

    wizard.back();
    wizard.back();
    chooseType(wizard, "segmentation");
    QVERIFY(pressNext(wizard));
    typeName(wizard, "Masks");
    QVERIFY(pressNext(wizard));
    QVERIFY(page->classes().isEmpty());
    QVERIFY(!nextEnabled(wizard));
}

void TestWizardPages::classEditDialogColour()
{
    ScriptedPrompts prompts;
    PromptsOverride installed(&prompts);
    ClassEditDialog dialog("car", QColor("#dc3232"));
    QCOMPARE(dialog.windowTitle(), QString("Edit Class"));
    QCOMPARE(dialog.colorButton()->text(), QString("#DC3232"));

    prompts.answers.enqueue(QColor("#00ff7f"));
    dialog.colorButton()->click();
    QCOMPARE(prompts.calls.last().kind, QString("color"));
    QCOMPARE(prompts.calls.last().title, QString("Choose Color"));
    QCOMPARE(dialog.color(), QColor("#00ff7f"));
    QCOMPARE(dialog.colorButton()->text(), QString("#00FF7F"));

    dialog.colorButton()->click(); // picker cancelled
    QCOMPARE(dialog.color(), QColor("#00ff7f"));

    // OK takes a name only: blank, it is off, and Return does not accept.
    ClassEditDialog adding(QString(), QColor("#dc3232"));
    QCOMPARE(adding.windowTitle(), QString("Add Class"));
    adding.show();
    QVERIFY(QTest::qWaitForWindowExposed(&adding));
    QVERIFY(!adding.okButton()->isEnabled());
    QTest::keyClicks(adding.nameEdit(), "   ");
    QVERIFY(!adding.okButton()->isEnabled());
    QTest::keyClick(adding.nameEdit(), Qt::Key_Return);
    QVERIFY(adding.isVisible());
    QCOMPARE(adding.result(), int(QDialog::Rejected));
    QTest::keyClicks(adding.nameEdit(), "bus");
    QVERIFY(adding.okButton()->isEnabled());
    QTest::keyClick(adding.nameEdit(), Qt::Key_Return);
    QCOMPARE(adding.result(), int(QDialog::Accepted));
    QCOMPARE(adding.name().trimmed(), QString("bus"));
    QVERIFY(dialog.okButton()->isEnabled());
}

void TestWizardPages::keypointTemplates()
{
    ObjectDetectionWizard wizard;
    openSecondStep(wizard, "pose");
    QCOMPARE(wizard.currentId(), int(KeypointSchemaPageId));
    KeypointSchemaPage *page = wizard.keypointSchemaPage();
    QVERIFY(nextEnabled(wizard));
    QVERIFY(!page->customButtonsRow()->isVisibleTo(page));

    KeypointSchema schema = page->schema();
    QCOMPARE(schema.objectClass, QString("person"));
    QCOMPARE(schema.keypointNames.size(), 17);
    QCOMPARE(schema.keypointNames.first(), QString("Nose"));
    QCOMPARE(schema.keypointNames.last(), QString("Right Ankle"));
    QCOMPARE(schema.edges.size(), 16);
    QCOMPARE(schema.edges.first(), qMakePair(0, 1));
    QCOMPARE(schema.edges.last(), qMakePair(14, 16));

    page->objectClassEdit()->setText("athlete");
    page->hand21Button()->setChecked(true);
    schema = page->schema();
    QCOMPARE(schema.objectClass, QString("hand"));
    QCOMPARE(schema.keypointNames.size(), 21);
    QCOMPARE(schema.keypointNames.at(4), QString("Thumb Tip"));
    QCOMPARE(schema.keypointNames.last(), QString("Pinky Tip"));
    QCOMPARE(schema.edges.size(), 23);
    QCOMPARE(schema.edges.mid(0, 4), (QList<QPair<int, int>>{{0, 1}, {1, 2}, {2, 3}, {3, 4}}));
    QCOMPARE(schema.edges.mid(16, 4), (QList<QPair<int, int>>{{0, 17}, {17, 18}, {18, 19}, {19, 20}}));
    QCOMPARE(schema.edges.mid(20), (QList<QPair<int, int>>{{5, 9}, {9, 13}, {13, 17}}));
    for (const auto &edge : schema.edges)
        QVERIFY(edge.first >= 0 && edge.second < 21);

    // Template keypoints cannot be renamed in place.
    QVERIFY(!(page->keypointList()->item(0)->flags() & Qt::ItemIsEditable));

    page->coco17Button()->setChecked(true);
    QCOMPARE(page->schema().objectClass, QString("person"));
    QCOMPARE(page->keypointList()->count(), 17);
}

void TestWizardPages::customKeypoints()
{
    ScriptedPrompts prompts;
    PromptsOverride installed(&prompts);
    ObjectDetectionWizard wizard;
    openSecondStep(wizard, "pose");
    KeypointSchemaPage *page = wizard.keypointSchemaPage();

    page->objectClassEdit()->setText("robot");
    page->customButton()->setChecked(true);
    QCOMPARE(page->keypointList()->count(), 0);
    QVERIFY(page->customButtonsRow()->isVisibleTo(page));
    QCOMPARE(page->objectClassEdit()->text(), QString("robot"));
    QVERIFY(!nextEnabled(wizard));

    prompts.answers.enqueue(QString("   ")); // blank: nothing added
    page->addKeypoint();
    page->addKeypoint(); // cancelled
    QCOMPARE(page->keypointList()->count(), 0);
    QCOMPARE(prompts.calls[0].title, QString("Add Keypoint"));
    QCOMPARE(prompts.calls[0].text, QString("Keypoint name:"));
    QCOMPARE(prompts.calls[0].extra, QString("kp1"));

    prompts.answers.enqueue(QString(" base "));
    prompts.answers.enqueue(QString("tip"));
    page->addKeypoint();
    page->addKeypoint();
    QCOMPARE(prompts.calls.last().extra, QString("kp2"));
    QVERIFY(nextEnabled(wizard));

    page->objectClassEdit()->setText("  ");
    KeypointSchema schema = page->schema();
    QCOMPARE(schema.objectClass, QString("person"));
    QCOMPARE(schema.keypointNames, (QStringList{"base", "tip"}));
    QVERIFY(schema.edges.isEmpty());

    QVERIFY(!page->removeButton()->isEnabled());
    page->keypointList()->setCurrentRow(0);
    QVERIFY(page->removeButton()->isEnabled());
    page->removeButton()->click();
    page->removeButton()->click();
    QCOMPARE(page->keypointList()->count(), 0);
    QVERIFY(!page->removeButton()->isEnabled());
    QVERIFY(!nextEnabled(wizard));

    // A template chosen by mistake does not cost the user's own keypoints:
    // back to Custom they are there again, with the object class typed for them.
    prompts.answers.enqueue(QString("x"));
    prompts.answers.enqueue(QString("y"));
    page->addKeypoint();
    page->addKeypoint();
    page->objectClassEdit()->setText("robot");
    page->coco17Button()->click();
    QCOMPARE(page->keypointList()->count(), 17);
    QCOMPARE(page->schema().objectClass, QString("person"));
    QVERIFY(!page->customButtonsRow()->isVisibleTo(page));
    page->hand21Button()->click();
    QCOMPARE(page->keypointList()->count(), 21);
    page->customButton()->click();
    QCOMPARE(page->keypointList()->count(), 2);
    QVERIFY(page->keypointList()->item(1)->flags() & Qt::ItemIsEditable);
    schema = page->schema();
    QCOMPARE(schema.keypointNames, (QStringList{"x", "y"}));
    QCOMPARE(schema.objectClass, QString("robot"));
    QVERIFY(schema.edges.isEmpty());
    QVERIFY(nextEnabled(wizard));
}

void TestWizardPages::customKeypointRenameRules()
{
    ScriptedPrompts prompts;
    PromptsOverride installed(&prompts);
    ObjectDetectionWizard wizard;
    openSecondStep(wizard, "pose");
    KeypointSchemaPage *page = wizard.keypointSchemaPage();
    page->customButton()->setChecked(true);
    prompts.answers.enqueue(QString("head"));
    prompts.answers.enqueue(QString("tail"));
    page->addKeypoint();
    page->addKeypoint();
    prompts.calls.clear();

    QListWidgetItem *tail = page->keypointList()->item(1);
    QVERIFY(tail->flags() & Qt::ItemIsEditable);

    // An in-place edit commits through the item's text, as setText does here.
    tail->setText("   ");
    QCOMPARE(tail->text(), QString("tail"));
    tail->setText("HEAD");
    QCOMPARE(tail->text(), QString("tail"));
    QTRY_COMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls[0].title, QString("Duplicate"));
    QCOMPARE(prompts.calls[0].text, QString("Keypoint already exists."));

    tail->setText("  Tail  ");
    QCOMPARE(tail->text(), QString("Tail"));
    page->keypointList()->item(0)->setText("Head");
    QCOMPARE(page->schema().keypointNames, (QStringList{"Head", "Tail"}));
    QCOMPARE(prompts.calls.size(), 1);

    // Adding follows the same rule: a name already listed, in any case, is refused.
    prompts.answers.enqueue(QString(" tAIL "));
    page->addKeypoint();
    QCOMPARE(page->schema().keypointNames, (QStringList{"Head", "Tail"}));
    QCOMPARE(prompts.calls.last().kind, QString("warning"));
    QCOMPARE(prompts.calls.last().title, QString("Duplicate"));
    QCOMPARE(prompts.calls.last().text, QString("Keypoint already exists."));
    prompts.answers.enqueue(QString("tip"));
    page->addKeypoint();
    QCOMPARE(page->schema().keypointNames, (QStringList{"Head", "Tail", "tip"}));
}

void TestWizardPages::folderScan()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString root = dir.path();
    for (const char *name : {"a.JPG", "b.png", "notes.txt", "sub/c.webp", "sub/deep/d.TiFf", "e.jpeg.bak",
                             ".hidden.png", ".cache/f.jpg", "g.Bmp", "folder.jpg/h.tif"})
        QVERIFY(touch(root + "/" + name));
    QVERIFY(touch(outside.path() + "/elsewhere.png"));
    // A link back up the tree and a link to a folder outside are not followed.
    QVERIFY(QFile::link(root, root + "/sub/loop"));
    QVERIFY(QFile::link(outside.path(), root + "/outside"));

    const QStringList found = scanImageFolder(root);
    for (const QString &path : found)
        QVERIFY2(QFileInfo(path).isAbsolute(), qPrintable(path));
    QCOMPARE(relative(root, found),
             (QStringList{"a.JPG", "b.png", "folder.jpg/h.tif", "g.Bmp", "sub/c.webp", "sub/deep/d.TiFf"}));

    QVERIFY(scanImageFolder(root + "/missing").isEmpty());
    QVERIFY(scanImageFolder(QString()).isEmpty());
    QVERIFY(scanImageFolder(root + "/a.JPG").isEmpty());
}

void TestWizardPages::folderImagesInNaturalOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path();
    // Created in an order unlike the expected one; the walk's own order is the
    // file system's.
    const QStringList names = {"img_10.png",    "img_2.png",   "IMG_1.png",     "img_002.jpg",
                               "img_1a.png",    "shots/b.png", "shots/a10.png", "shots/a9.png",
                               "shots-2/a.png", "img_100.png", "Photo 3.png"};
    for (const QString &name : names)
        QVERIFY(touch(root + "/" + name));
    QCOMPARE(relative(root, scanImageFolder(root)),
             (QStringList{"IMG_1.png", "img_1a.png", "img_002.jpg", "img_2.png", "img_10.png", "img_100.png",
                          "Photo 3.png", "shots/a9.png", "shots/a10.png", "shots/b.png", "shots-2/a.png"}));

    // The order is total and consistent.
    const QList<QPair<QString, QString>> before = {
        {"a2", "a10"},      {"a", "a0"}, {"a", "B"},  {"x9y", "x10"},
        {"dir/z", "dir-a"}, {"A", "a"},  {"01", "1"}, {"99999999999999999999", "100000000000000000000"},
    };
    for (const auto &[a, b] : before) {
        QVERIFY2(naturalCompare(a, b) < 0, qPrintable(a + " < " + b));
        QVERIFY2(naturalCompare(b, a) > 0, qPrintable(b + " > " + a));
    }
    QCOMPARE(naturalCompare(u"same", u"same"), 0);
}

void TestWizardPages::importPageModes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const char *name : {"a.JPG", "b.png", "notes.txt", "sub/c.webp"})
        QVERIFY(touch(dir.filePath(name)));
    QVERIFY(QDir(dir.path()).mkdir("empty"));
    ScriptedPrompts prompts;
    PromptsOverride installed(&prompts);
    ObjectDetectionWizard wizard;
    openSecondStep(wizard, "face");
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.currentId(), int(ImportPageId));
    ImportPage *page = wizard.importPage();
    QVERIFY(page->skipButton()->isChecked());
    QVERIFY(!page->pathRow()->isEnabled());
    QCOMPARE(page->countLabel()->objectName(), QString("mutedLabel"));

    page->folderButton()->setChecked(true);
    QVERIFY(page->pathRow()->isEnabled());
    QVERIFY(nextEnabled(wizard));
    prompts.answers.enqueue(dir.path());
    page->browse();
    QCOMPARE(prompts.calls.last().kind, QString("dir"));
    QCOMPARE(prompts.calls.last().title, QString("Select Image Folder"));
    QCOMPARE(page->pathEdit()->text(), dir.path());
    QCOMPARE(page->countLabel()->text(), QString("→ 3 image(s) found"));
    QCOMPARE(page->imagePaths().size(), 3);

    page->browse(); // cancelled: the previous choice stands
    QCOMPARE(page->imagePaths().size(), 3);

    prompts.answers.enqueue(dir.filePath("empty"));
    page->browse();
    QCOMPARE(page->countLabel()->text(), QString("⚠  No supported images found."));
    QVERIFY(page->imagePaths().isEmpty());

    page->countImages(dir.path());
    page->filesButton()->setChecked(true);
    QCOMPARE(page->imagePaths().size(), 3); // kept until Browse is used again
    const QStringList files = {dir.filePath("b.png"), dir.filePath("a.JPG")};
    prompts.answers.enqueue(files);
    page->browse();
    QCOMPARE(prompts.calls.last().kind, QString("openMany"));
    QCOMPARE(prompts.calls.last().title, QString("Select Images"));
    QCOMPARE(prompts.calls.last().extra, QString("Images (*.jpg *.jpeg *.png *.bmp *.tif *.tiff *.webp)"));
    QCOMPARE(page->imagePaths(), files);
    QCOMPARE(page->pathEdit()->text(), QString("(2 files selected)"));
    QCOMPARE(page->countLabel()->text(), QString("→ 2 image(s) selected"));
    page->browse(); // cancelled
    QCOMPARE(page->imagePaths(), files);

    page->skipButton()->setChecked(true);
    QVERIFY(page->imagePaths().isEmpty());
    QVERIFY(page->pathEdit()->text().isEmpty());
    QVERIFY(page->countLabel()->text().isEmpty());
    QVERIFY(!page->pathRow()->isEnabled());
    QVERIFY(pressNext(wizard));
    QVERIFY(wizard.projectSpec().imagePaths.isEmpty());
}

QM_TEST_MAIN(TestWizardPages)
#include "tst_wizardpages.moc"
