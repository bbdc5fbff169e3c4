// The main dialog's rules as a person meets them in the window: fields that
// refuse nonsense when left, and a run that cannot be started twice.
#include "controls.h"
#include "scale_dlg.h"

#include "program_gui/gui_support.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tolvane;

namespace {

bool WriteGreyTiff(const QString& path, uint32_t width, uint32_t height) {
    return gui_support::WriteTiff(path, width, height, 1, [](uint32_t x, uint32_t y, int) { return uint8_t(x ^ y); });
}

QString FieldText(const CScaleDlg& d, int id) {
    auto* edit = qobject_cast<QLineEdit*>(d.Control(id));
    return edit ? edit->text() : QString("<no field %1>").arg(id);
}

// Types over a field as a person does, then clicks elsewhere so it is left.
void TypeAndLeave(CScaleDlg& d, int id, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(d.Control(id));
    QVERIFY(edit);
    gui_support::ClickOn(edit);
    QTRY_VERIFY(edit->hasFocus());
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, text);
    d.Control(kSelectImage)->setFocus();
    QTRY_VERIFY(!edit->hasFocus());
}

// A dialog that, when a file of the run is finished, notes whether Process
// All could be clicked and clicks it as an impatient person would.
class ImpatientDlg : public CScaleDlg {
public:
    ImpatientDlg() : CScaleDlg("") {}
    QList<bool> processAllEnabled;
    void FileFinished(const FileOutcome& outcome) override {
        CScaleDlg::FileFinished(outcome);
        processAllEnabled << Control(kProcessAll)->isEnabled();
        gui_support::ClickOn(Control(kProcessAll));
    }
};

}  // namespace

class DialogRulesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir files_;

private slots:
    void initTestCase() {
        QVERIFY(files_.isValid());
        for (const char* name : {"a.tif", "b.tif", "c.tif"})
            QVERIFY(WriteGreyTiff(files_.path() + "/" + name, 3000, 2000));
    }

    void fieldsLeftWithNonsenseGetTheirValueBack_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("outWidth");
        QTest::newRow("height abc") << int(kOutHeight) << "abc" << "2000" << "3000";
        QTest::newRow("height 0") << int(kOutHeight) << "0" << "2000" << "3000";
        QTest::newRow("height -5") << int(kOutHeight) << "-5" << "2000" << "3000";
        QTest::newRow("height emptied") << int(kOutHeight) << "" << "2000" << "3000";
        QTest::newRow("height 1000") << int(kOutHeight) << "1000" << "1000" << "1500";
        QTest::newRow("width -5") << int(kOutWidth) << "-5" << "3000" << "3000";
        QTest::newRow("inches -5") << int(kOutSizeX) << "-5" << "10.00" << "3000";
        QTest::newRow("resolution abc") << int(kOutRes) << "abc" << " 300.000" << "3000";
        QTest::newRow("resolution -5") << int(kOutRes) << "-5" << " 300.000" << "3000";
        QTest::newRow("fit -5") << int(kFitSize) << "-5" << "300" << "3000";
        QTest::newRow("percent abc") << int(kScale) << "abc" << "100.00" << "3000";
        QTest::newRow("quality abc") << int(kQuality) << "abc" << "75" << "3000";
        QTest::newRow("quality 0") << int(kQuality) << "0" << "75" << "3000";
        QTest::newRow("quality 90") << int(kQuality) << "90" << "90" << "3000";
    }

    void fieldsLeftWithNonsenseGetTheirValueBack() {
        QFETCH(int, id);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, outWidth);
        CScaleDlg d("");
        d.ListPaths({files_.path() + "/a.tif"});
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        if (id == kQuality) d.Model().SpinDelta(kFormatSpin, -1);  // JPEG shows the field
        QCOMPARE(FieldText(d, kOutWidth), QString("3000"));
        TypeAndLeave(d, id, typed);
        QCOMPARE(FieldText(d, id), shown);
        QCOMPARE(FieldText(d, kOutWidth), outWidth);
    }

    // Process All is disabled from the first file to the last, so neither a
    // click during a file nor one queued between two files starts a second
    // run writing B-named copies.
    void aRunCannotBeStartedTwice() {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        ImpatientDlg d;
        d.ListPaths({files_.path()});
        d.Model().SetDestination(out.path().toStdString());
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(d.Model().List().Count(), 3);
        gui_support::ClickOn(d.Control(kProcessAll));
        QVERIFY(d.Model().Running());
        QVERIFY(!d.Control(kSelectImage)->isEnabled());
        gui_support::ClickOn(d.Control(kProcessAll));  // between the first and second file
        QTRY_VERIFY_WITH_TIMEOUT(d.Control(kDone)->isVisible(), 60000);
        QCOMPARE(d.processAllEnabled, QList<bool>({false, false, false}));
        QVERIFY(d.Control(kProcessAll)->isEnabled());
        QVERIFY(d.Control(kSelectImage)->isEnabled());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files),
                 QStringList({"A000_a.tif", "A001_b.tif", "A002_c.tif"}));
    }
};

// Run by the gui_tests main after the other window tests.
int RunDialogRuleTests(int argc, char** argv) {
    DialogRulesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialog_rules_test.moc"
