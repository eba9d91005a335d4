#include "QmTest.h"
#include "ScriptedPrompts.h"
#include "WizardDriver.h"

#include "dialogs/ImportPage.h"
#include "dialogs/KeypointSchemaPage.h"
#include "dialogs/SummaryPage.h"
#include "dialogs/WizardPageId.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace QmTest;

namespace {

QStringList listTexts(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

void clearWizardSettings()
{
    QSettings("Quillmark", "Quillmark").clear();
    QSettings().clear();
}

} // namespace

class TestWizardFlow : public QObject {
    Q_OBJECT
private slots:
    void init() { clearWizardSettings(); }

    void freshWizardStartsOnObjectDetection();
    void routing_data();
    void routing();
    void poseThenBackToAnotherType();
    void nameIsTrimmedOnlyInTheResult();
    void saveLocationChooser();
    void fullRunSpec_data();
    void fullRunSpec();
    void cancelOnSummaryRejects();
};

void TestWizardFlow::freshWizardStartsOnObjectDetection()
{
    ObjectDetectionWizard wizard;
    wizard.show();
    QCOMPARE(wizard.windowTitle(), QString("New Project"));
    QCOMPARE(wizard.buttonText(QWizard::FinishButton), QString("Create Project"));
    QCOMPARE(wizard.currentId(), int(TypePageId));
    QCOMPARE(wizard.typePage()->selectedType(), QString("object_detection"));
    QVERIFY(wizard.typePage()->typeButton("object_detection")->isChecked());
    QVERIFY(nextEnabled(wizard));
    QVERIFY(!wizard.button(QWizard::BackButton)->isVisible());

    auto *description = wizard.typePage()->findChild<QLabel *>("mutedLabel");
    QVERIFY(description);
    QVERIFY(description->text().startsWith("Draw bounding boxes around objects."));
    chooseType(wizard, "face");
    QCOMPARE(description->text(), QString("Detect faces and annotate 5 facial landmarks (eyes, nose, mouth corners)."));
    QCOMPARE(wizard.typePage()->selectedType(), QString("face"));
}

void TestWizardFlow::routing_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("placeholder");
    QTest::addColumn<QList<int>>("pages");
    const QList<int> classRoute = {0, 1, 2, 3, 4};
    QTest::newRow("object_detection") << "object_detection"
                                      << "My Detection Project" << classRoute;
    QTest::newRow("semantic_segmentation") << "semantic_segmentation"
                                           << "My Semantic Segmentation Project" << classRoute;
    QTest::newRow("segmentation") << "segmentation"
                                  << "My Instance Segmentation Project" << classRoute;
    QTest::newRow("pose") << "pose"
                          << "My Pose Project" << QList<int>{0, 1, 5, 3, 4};
    QTest::newRow("face") << "face"
                          << "My Face Project" << classRoute;
    QTest::newRow("classification") << "classification"
                                    << "My Classification Project" << classRoute;
}

void TestWizardFlow::routing()
{
    QFETCH(QString, type);
    QFETCH(QString, placeholder);
    QFETCH(QList<int>, pages);

    ObjectDetectionWizard wizard;
    wizard.show();
    chooseType(wizard, type);
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.currentId(), int(SetupPageId));
    QCOMPARE(wizard.setupPage()->nameEdit()->placeholderText(), placeholder);
    QVERIFY2(!nextEnabled(wizard), "an empty name must keep Next disabled");
    typeName(wizard, "Project");

    QVERIFY(pressNext(wizard));
    if (wizard.currentId() == ClassesPageId && !nextEnabled(wizard))
        wizard.classesPage()->addTemplateClasses(0);
    QVERIFY(pressNext(wizard));
    QVERIFY(pressNext(wizard));

    QCOMPARE(wizard.visitedIds(), pages);
    QVERIFY(wizard.currentPage()->isFinalPage());
    QVERIFY(!wizard.button(QWizard::NextButton)->isVisible());
    QVERIFY(wizard.button(QWizard::FinishButton)->isVisible());
    QVERIFY(wizard.button(QWizard::FinishButton)->isEnabled());
}

void TestWizardFlow::poseThenBackToAnotherType()
{
    ObjectDetectionWizard wizard;
    wizard.show();
    chooseType(wizard, "pose");
    QVERIFY(pressNext(wizard));
    typeName(wizard, "Walkers");
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.currentId(), int(KeypointSchemaPageId));

    wizard.back();
    wizard.back();
    QCOMPARE(wizard.currentId(), int(TypePageId));
    chooseType(wizard, "object_detection");
    QVERIFY(pressNext(wizard));
    // Leaving the setup page with Back resets its fields.
    QVERIFY(wizard.setupPage()->nameEdit()->text().isEmpty());
    typeName(wizard, "Cars");
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.currentId(), int(ClassesPageId));
    wizard.classesPage()->addTemplateClasses(0);
    QVERIFY(pressNext(wizard));
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.visitedIds(), (QList<int>{0, 1, 2, 3, 4}));
    QCOMPARE(wizard.summaryPage()->detailCaption()->text(), QString("Classes:"));

    const NewProjectSpec spec = wizard.projectSpec();
    QCOMPARE(spec.projectType, QString("object_detection"));
    QCOMPARE(spec.keypointSchema, KeypointSchema());
    QCOMPARE(spec.classes.size(), 11);
}

void TestWizardFlow::nameIsTrimmedOnlyInTheResult()
{
    ObjectDetectionWizard wizard;
    wizard.show();
    QVERIFY(pressNext(wizard));
    typeName(wizard, "   ");
    QVERIFY2(nextEnabled(wizard), "a name of spaces is not empty");
    QVERIFY(pressNext(wizard));
    wizard.classesPage()->addTemplateClasses(2);
    QVERIFY(pressNext(wizard));
    QVERIFY(pressNext(wizard));

    SummaryPage *summary = wizard.summaryPage();
    QCOMPARE(summary->nameValue()->text(), QString("   "));
    QCOMPARE(summary->saveLocationValue()->text(), QString("<em>Not saved yet</em>"));
    QCOMPARE(summary->saveLocationValue()->textFormat(), Qt::RichText);
    QCOMPARE(summary->imagesValue()->text(), QString("None — import later"));
    QCOMPARE(wizard.projectSpec().name, QString());

    wizard.back();
    wizard.back();
    wizard.back();
    typeName(wizard, "  <b>Street</b> scenes \t");
    QVERIFY(pressNext(wizard));
    QVERIFY(pressNext(wizard));
    QVERIFY(pressNext(wizard));
    // The user's text is shown literally, never interpreted as markup.
    QCOMPARE(summary->nameValue()->text(), QString("  <b>Street</b> scenes \t"));
    QCOMPARE(summary->nameValue()->textFormat(), Qt::PlainText);
    QCOMPARE(wizard.projectSpec().name, QString("<b>Street</b> scenes"));
}

void TestWizardFlow::saveLocationChooser()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ScriptedPrompts prompts;
    PromptsOverride installed(&prompts);

    ObjectDetectionWizard wizard;
    wizard.show();
    QVERIFY(pressNext(wizard));
    SetupPage *setup = wizard.setupPage();

    prompts.answers.enqueue(dir.filePath("cars"));
    setup->browseSavePath();
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls[0].kind, QString("save"));
    QCOMPARE(prompts.calls[0].title, QString("Save Project As"));
    QCOMPARE(prompts.calls[0].text, QDir::homePath());
    QCOMPARE(prompts.calls[0].extra, QString("Quillmark Project (*.qmk)"));
    QCOMPARE(setup->savePathEdit()->text(), dir.filePath("cars.qmk"));
    QCOMPARE(setup->nameEdit()->text(), QString("cars"));
    QVERIFY2(nextEnabled(wizard), "the file name fills the mandatory name");

    // The folder goes to the product store only, not to the main window's key.
    QCOMPARE(QSettings("Quillmark", "Quillmark").value("lastProjectDir").toString(), dir.path());
    QVERIFY(!QSettings().contains("lastProjectDir"));

    typeName(wizard, "Typed");
    prompts.answers.enqueue(dir.filePath("run.QMK"));
    setup->browseSavePath();
    QCOMPARE(prompts.calls[1].text, dir.path());
    QCOMPARE(setup->savePathEdit()->text(), dir.filePath("run.QMK"));
    QCOMPARE(setup->nameEdit()->text(), QString("Typed"));

    setup->browseSavePath(); // cancelled
    QCOMPARE(setup->savePathEdit()->text(), dir.filePath("run.QMK"));
    QCOMPARE(wizard.projectSpec().savePath, dir.filePath("run.QMK"));

    // A dotted name still gets the suffix. When the suffixed file exists, the
    // user is asked; No keeps the earlier choice.
    prompts.answers.enqueue(dir.filePath("garden.v2"));
    setup->browseSavePath();
    QCOMPARE(setup->savePathEdit()->text(), dir.filePath("garden.v2.qmk"));
    QFile existing(dir.filePath("garden.v2.qmk"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    prompts.calls.clear();
    prompts.answers.enqueue(dir.filePath("cars"));
    setup->browseSavePath();
    QCOMPARE(prompts.calls.size(), 1);
    prompts.answers.enqueue(dir.filePath("garden.v2"));
    prompts.answers.enqueue(int(QMessageBox::No));
    setup->browseSavePath();
    QCOMPARE(prompts.calls.last().kind, QString("question"));
    QCOMPARE(prompts.calls.last().title, QString("Save Project As"));
    QCOMPARE(prompts.calls.last().text, QString("garden.v2.qmk already exists.\nDo you want to replace it?"));
    QCOMPARE(setup->savePathEdit()->text(), dir.filePath("cars.qmk"));
    prompts.answers.enqueue(dir.filePath("garden.v2"));
    prompts.answers.enqueue(int(QMessageBox::Yes));
    setup->browseSavePath();
    QCOMPARE(setup->savePathEdit()->text(), dir.filePath("garden.v2.qmk"));
}

void TestWizardFlow::fullRunSpec_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("summaryType");
    for (const char *type :
         {"object_detection", "semantic_segmentation", "segmentation", "pose", "face", "classification"}) {
        const QString key = type;
        const QString summary = key == "object_detection"        ? "Object Detection"
                                : key == "semantic_segmentation" ? "Semantic Segmentation"
                                : key == "segmentation"          ? "Instance Segmentation"
                                : key == "pose"                  ? "Pose Estimation"
                                : key == "face"                  ? "Face Detection"
                                                                 : "Image Classification";
        QTest::newRow(type) << key << summary;
    }
}

void TestWizardFlow::fullRunSpec()
{
    QFETCH(QString, type);
    QFETCH(QString, summaryType);
    const bool pose = type == "pose";
    const bool face = type == "face";
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ScriptedPrompts prompts;
    PromptsOverride installed(&prompts);
    ScriptedClassEditor editor;

    ObjectDetectionWizard wizard;
    wizard.classesPage()->setEditorRunner(editor.runner());
    wizard.show();
    chooseType(wizard, type);
    QVERIFY(pressNext(wizard));
    typeName(wizard, "  Demo  ");
    prompts.answers.enqueue(dir.filePath("demo"));
    wizard.setupPage()->browseSavePath();
    QVERIFY(pressNext(wizard));

    QList<ClassEntry> expectedClasses;
    if (face) {
        expectedClasses = {{"face", QColor("#DC3232")}};
    } else if (!pose) {
        editor.names = QStringList{"car", "Person"};
        editor.colors = {QColor("#DC3232"), QColor("#123456")};
        wizard.classesPage()->addClass();
        wizard.classesPage()->addClass();
        expectedClasses = {{"car", QColor("#DC3232")}, {"Person", QColor("#123456")}};
    }
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.currentId(), int(ImportPageId));

    const QStringList images = {dir.filePath("one.jpg"), dir.filePath("two.png")};
    ImportPage *import = wizard.importPage();
    import->filesButton()->setChecked(true);
    prompts.answers.enqueue(images);
    import->browse();
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.currentId(), int(SummaryPageId));

    SummaryPage *summary = wizard.summaryPage();
    QCOMPARE(summary->typeValue()->text(), summaryType);
    QCOMPARE(summary->nameValue()->text(), QString("  Demo  "));
    QCOMPARE(summary->saveLocationValue()->text(), dir.filePath("demo.qmk"));
    QCOMPARE(summary->imagesValue()->text(), QString("2 image(s) to import"));
    if (pose) {
        QCOMPARE(summary->detailCaption()->text(), QString("Keypoints:"));
        QCOMPARE(summary->detailValue()->text(), QString("17 keypoints  (class: person)"));
        QCOMPARE(listTexts(summary->itemList()).mid(0, 2), (QStringList{"1. Nose", "2. Left Eye"}));
        QCOMPARE(summary->itemList()->count(), 17);
    } else {
        QCOMPARE(summary->detailCaption()->text(), QString("Classes:"));
        QCOMPARE(summary->detailValue()->text(), QString("%1 class(es) defined").arg(expectedClasses.size()));
        QStringList names;
        for (const ClassEntry &entry : expectedClasses)
            names.append(entry.name);
        QCOMPARE(listTexts(summary->itemList()), names);
    }

    wizard.button(QWizard::FinishButton)->click();
    QCOMPARE(wizard.result(), int(QDialog::Accepted));

    const NewProjectSpec spec = wizard.projectSpec();
    QCOMPARE(spec.projectType, type);
    QCOMPARE(spec.name, QString("Demo"));
    QCOMPARE(spec.savePath, dir.filePath("demo.qmk"));
    QCOMPARE(spec.imagePaths, images);
    QCOMPARE(spec.classes, expectedClasses);
    if (pose) {
        QCOMPARE(spec.keypointSchema.objectClass, QString("person"));
        QCOMPARE(spec.keypointSchema.keypointNames.size(), 17);
        QCOMPARE(spec.keypointSchema.edges.size(), 16);
    } else {
        QCOMPARE(spec.keypointSchema, KeypointSchema());
    }
}

void TestWizardFlow::cancelOnSummaryRejects()
{
    ObjectDetectionWizard wizard;
    wizard.show();
    chooseType(wizard, "face");
    QVERIFY(pressNext(wizard));
    typeName(wizard, "Faces");
    QVERIFY(pressNext(wizard));
    QVERIFY(pressNext(wizard));
    QVERIFY(pressNext(wizard));
    QCOMPARE(wizard.currentId(), int(SummaryPageId));
    wizard.button(QWizard::CancelButton)->click();
    QCOMPARE(wizard.result(), int(QDialog::Rejected));
    QVERIFY(!wizard.isVisible());
}

QM_TEST_MAIN(TestWizardFlow)
#include "tst_wizardflow.moc"
