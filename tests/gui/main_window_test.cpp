// The real main dialog, driven as a user would drive it, over the virtual
// MIDI system and the simulated controller.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/qt/about_dlg.h"
#include "app/qt/device_select_dlg.h"
#include "app/qt/dialog_units.h"
#include "app/qt/update_dlg.h"
#include "run/steps.h"
#include "tests/gui/when_modal.h"
#include "tests/update/procedure_rig.h"

using namespace korvane;

namespace {

constexpr int kLong = 30000;

void AnswerQuestion(QMessageBox::StandardButton answer, QString* text = nullptr) {
  WhenModal<QMessageBox>([answer, text](QMessageBox* box) {
    if (text)
      *text = box->windowTitle() + "|" + box->text();
    box->button(answer)->click();
  });
}

QString Shown(const std::string& raw) {
  return LogView::Display(raw);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  struct Rig {
    VirtualMidiServices midi;
    int controller = -1;
    std::unique_ptr<CUpdateDlg> dialog;
  };

  QTemporaryDir dir_;
  QTemporaryDir home_;

  QString WriteImage(const std::vector<std::uint8_t>& image) {
    const QString path = dir_.filePath("update.syx");
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
    return path;
  }

  static void AddController(Rig& rig, DeviceModelOptions options = {}) {
    const UINT in = rig.midi.AddInput("Panel In");
    const UINT out = rig.midi.AddOutput("Panel Out");
    rig.controller = rig.midi.AttachController(out, {in}, std::move(options));
  }

  static void Show(Rig& rig) {
    rig.dialog = std::make_unique<CUpdateDlg>(rig.midi);
    rig.dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.dialog.get()));
    QTRY_VERIFY(rig.dialog->Button(kOpenButton)->isVisible());
  }

  // Clicks Open and types the file's name without its extension.
  void OpenFile(Rig& rig, const QString& path) {
    WhenModal<QFileDialog>([path](QFileDialog* fd) {
      QCOMPARE(fd->nameFilters(), QStringList{"SysEx Files (*.syx)"});
      auto* edit = fd->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(edit);
      QString typed = path;
      typed.chop(4);  // the dialog adds "syx" itself
      edit->setText(typed);
      QTest::keyClick(edit, Qt::Key_Return);
    });
    rig.dialog->Button(kOpenButton)->click();
  }

  static void ChooseFirstDevice() {
    WhenModal<CDeviceSelectDlg>([](CDeviceSelectDlg* d) {
      d->List()->setCurrentRow(0);
      d->OkButton()->click();
    });
  }

  static std::string LogText(Rig& rig) { return rig.dialog->State().log.Text(); }

 private slots:
  // The user's folders, where Qt keeps what it remembers, and the one for
  // temporary files: an empty one of the suite's own.
  void initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("HOME", QFile::encodeName(home_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath(".config")));
    qputenv("TMPDIR", QFile::encodeName(home_.path()));
  }

  void firstPaintGreetsAndLaysOut() {
    Rig rig;
    Show(rig);
    CUpdateDlg& d = *rig.dialog;
    QCOMPARE(d.LogControl()->toPlainText(),
             QString("Welcome to the Korvane-Update Utility.\nPlease select a file to upload."));
    QCOMPARE(d.Button(kOpenButton)->text(), QString("&Open"));
    QCOMPARE(d.Button(kExitButton)->text(), QString("&Exit"));
    QVERIFY(d.Button(kExitButton)->isVisible());
    QVERIFY(!d.Button(kRescanButton)->isVisible());
    QVERIFY(!d.Button(kUnusedButton1009)->isVisible());
    QVERIFY(!d.Button(kUnusedButton1010)->isVisible());
    QCOMPARE(d.windowTitle(), QString("Aldermark Korvane Update Utility"));
    const DialogUnits du(d.font());
    QCOMPARE(d.size(), du.Size(254, 207));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    QVERIFY(!(d.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(d.Button(kOpenButton)->geometry(), du.Rect(198, 94, 39, 11));
    QCOMPARE(d.LogControl()->geometry(), du.Rect(15, 79, 179, 94));
    QCOMPARE(d.Progress()->geometry(), du.Rect(15, 172, 179, 9));
    QVERIFY(d.LogControl()->isReadOnly());
    // Later paints never greet again.
    d.repaint();
    QCOMPARE(LogText(rig), std::string("Welcome to the Korvane-Update Utility.\r\n"
                                       "Please select a file to upload."));
  }

  void fullUpdateThenRescanAndCancel() {
    Rig rig;
    AddController(rig);
    const auto image = testing::MakeImage(48, 40);
    const QString path = WriteImage(image);
    Show(rig);
    ChooseFirstDevice();
    OpenFile(rig, path);
    QTRY_VERIFY_WITH_TIMEOUT(rig.dialog->Button(kRescanButton)->isVisible(), kLong);
    const std::string log = LogText(rig);
    QVERIFY(log.find("Checking file: " + QDir::cleanPath(path).toStdString()) != std::string::npos);
    QVERIFY(log.find("Update successfully completed.") != std::string::npos);
    QVERIFY(rig.dialog->Button(kOpenButton)->isVisible());
    QVERIFY(rig.dialog->Button(kExitButton)->isVisible());
    QCOMPARE(rig.midi.Controller(rig.controller).AcceptedFirmware(), image);
    QCOMPARE(rig.dialog->LogControl()->toPlainText(), Shown(log));
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    const QString shot = QString(KORVANE_BINARY_DIR) + "/gui/main-window-after-update.png";
    QDir().mkpath(QFileInfo(shot).path());
    QVERIFY(rig.dialog->grab().save(shot));

    // Rescan with the loaded image; Cancel in the device dialog sends nothing.
    WhenModal<CDeviceSelectDlg>([](CDeviceSelectDlg* d) {
      QCOMPARE(d->List()->count(), 1);
      d->CancelButton()->click();
    });
    rig.dialog->Button(kRescanButton)->click();
    // The update asked four times (the scan and its confirmation, the pair
    // before the first block); the rescan asks and confirms.
    QTRY_VERIFY_WITH_TIMEOUT(rig.midi.Controller(rig.controller).IdentityRequests() == 6, kLong);
    QTRY_VERIFY_WITH_TIMEOUT(
        !rig.dialog->State().chosenDevice.has_value() && !rig.dialog->Flow().PortsOpen(), kLong);
    QTRY_VERIFY(rig.dialog->Button(kRescanButton)->isVisible());
    QCOMPARE(rig.midi.Controller(rig.controller).BlocksReceived(), std::size_t{3});
  }

  void cancelInTheFileDialogShowsOpenAgain() {
    Rig rig;
    Show(rig);
    const std::string before = LogText(rig);
    WhenModal<QFileDialog>([](QFileDialog* fd) { fd->reject(); });
    rig.dialog->Button(kOpenButton)->click();
    QVERIFY(!rig.dialog->Button(kOpenButton)->isVisible());
    QTRY_VERIFY(rig.dialog->Button(kOpenButton)->isVisible());
    QCOMPARE(LogText(rig), before);
    QVERIFY(!rig.dialog->State().filePath.has_value());
  }

  void theFileDialogLeavesNothingBehind() {
    Rig rig;
    Show(rig);
    WhenModal<QFileDialog>([](QFileDialog* fd) { fd->reject(); });
    rig.dialog->Button(kOpenButton)->click();
    QTRY_VERIFY(rig.dialog->Button(kOpenButton)->isVisible());
    QCOMPARE(QDir(home_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
  }

  void noInputPortAndNoDevice() {
    {
      Rig rig;
      const QString path = WriteImage(testing::MakeImage(16));
      Show(rig);
      OpenFile(rig, path);
      QTRY_VERIFY_WITH_TIMEOUT(rig.dialog->Button(kRescanButton)->isVisible(), kLong);
      QVERIFY(LogText(rig).ends_with(kNoPortText));
    }
    {
      Rig rig;
      rig.midi.AddInput("Quiet In");
      rig.midi.AddOutput("Quiet Out");
      const QString path = WriteImage(testing::MakeImage(16));
      Show(rig);
      OpenFile(rig, path);
      QTRY_VERIFY_WITH_TIMEOUT(rig.dialog->Button(kRescanButton)->isVisible(), kLong);
      QVERIFY(LogText(rig).ends_with(kNoDeviceText));
      QCOMPARE(rig.dialog->State().ports.InputHead(), nullptr);
    }
  }

  void guardsWhileBusyAndClosingDuringTransfer() {
    Rig rig;
    AddController(rig);
    WriteImage(testing::MakeImage(600, 300));
    Show(rig);
    ChooseFirstDevice();
    OpenFile(rig, dir_.filePath("update.syx"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.midi.Controller(rig.controller).FirmwareMessages() > 0, kLong);
    CUpdateDlg& d = *rig.dialog;
    QVERIFY(d.State().busy.IsBusy());

    // The close box does nothing at all while busy.
    QVERIFY(!d.close());
    QVERIFY(d.isVisible());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);

    // Escape asks; OK keeps the work running and the window open.
    QString asked;
    AnswerQuestion(QMessageBox::Ok, &asked);
    QTest::keyClick(&d, Qt::Key_Escape);
    QCOMPARE(asked, QString("Korvane Update Utility|") + Shown(kCancelQuestion));
    QVERIFY(d.isVisible());
    QVERIFY(d.State().workers.AnyRunning());

    // Escape, Cancel: the run ends; the window's end asks again and OK
    // stops and joins the transfer before every port is closed.
    AnswerQuestion(QMessageBox::Cancel);
    QString destroyAsked;
    QTimer::singleShot(0, [&] { AnswerQuestion(QMessageBox::Ok, &destroyAsked); });
    QTest::keyClick(&d, Qt::Key_Escape);
    QTRY_VERIFY(d.Released());
    QCOMPARE(destroyAsked, QString("Korvane Update Utility|") + Shown(kDestroyQuestion));
    QVERIFY(!d.isVisible());
    QVERIFY(!d.State().workers.AnyRunning());
    QCOMPARE(d.State().ports.InputHead(), nullptr);
    QCOMPARE(d.State().ports.OutputHead(), nullptr);
    QCOMPARE(rig.midi.CallCount(MidiCall::kInClose), rig.midi.CallCount(MidiCall::kInOpen));
    QCOMPARE(rig.midi.CallCount(MidiCall::kOutClose), rig.midi.CallCount(MidiCall::kOutOpen));
    QVERIFY(rig.midi.Controller(rig.controller).FirmwareMessages() < 600);
  }

  void enterOnTheIdleLogEndsTheRun() {
    Rig rig;
    Show(rig);
    rig.dialog->LogControl()->setFocus();
    QTest::keyClick(rig.dialog->LogControl(), Qt::Key_Return);
    QVERIFY(!rig.dialog->isVisible());
    QCOMPARE(rig.dialog->result(), int(QDialog::Accepted));
    QVERIFY(rig.dialog->Released());
    QCOMPARE(rig.dialog->State().log.Capacity(), std::size_t{0});
  }

  void enterOnAFocusedButtonClicksIt() {
    Rig rig;
    Show(rig);
    rig.dialog->Button(kExitButton)->setFocus();
    QTest::keyClick(rig.dialog->windowHandle(), Qt::Key_Return);
    QTRY_VERIFY(!rig.dialog->isVisible());
    QCOMPARE(rig.dialog->result(), int(QDialog::Rejected));  // Exit's close, not Enter's accept
  }

  void aboutBoxForSystemCommands16To31() {
    Rig rig;
    Show(rig);
    int opened = 0;
    for (int id : {15, 16, 23, 31, 32}) {
      bool shown = false;
      if (id >= 16 && id <= 31) {
        WhenModal<CAboutDlg>([&shown](CAboutDlg* about) {
          shown = about->windowTitle() == "About KORVANEUPDATE" &&
                  about->findChild<QLabel*>("aboutText")->text() == "KORVANEUPDATE Version 1.0";
          about->accept();
        });
      }
      rig.dialog->HandleSysCommand(id);
      opened += shown ? 1 : 0;
    }
    QCOMPARE(opened, 3);
    const auto actions = rig.dialog->actions();
    QVERIFY(std::any_of(actions.begin(), actions.end(),
                        [](QAction* a) { return a->text() == "&About KORVANEUPDATE..."; }));
  }

  void deviceDialogListsInOrderAndReportsTheChoice() {
    const std::vector<std::string> list{"Ctl A (Out1/In1)", "Ctl B (Out2/In2)", "Ctl C (Out3/In3)"};
    {
      CDeviceSelectDlg d(list, "/x/update.syx", nullptr);
      QCOMPARE(d.List()->count(), 3);
      QCOMPARE(d.List()->item(2)->text(), QString("Ctl C (Out3/In3)"));
      QCOMPARE(d.FileName()->text(), QString("/x/update.syx"));
      QTimer::singleShot(0, [&] {
        d.List()->setCurrentRow(2);
        d.List()->setCurrentRow(0);
        QTest::mouseDClick(d.List()->viewport(), Qt::LeftButton, {},
                           d.List()->visualItemRect(d.List()->item(1)).center());
        QVERIFY(d.isVisible());  // a double-click selects and stays
        QCOMPARE(d.m_chosenIndex, 1);
        d.List()->setCurrentRow(0);
        d.OkButton()->click();
      });
      QCOMPARE(d.exec(), int(QDialog::Accepted));
      QCOMPARE(d.m_chosenIndex, 0);
    }
    {
      CDeviceSelectDlg d(list, "p", nullptr);
      QTimer::singleShot(0, [&] { QTest::keyClick(&d, Qt::Key_Return); });
      QCOMPARE(d.exec(), int(QDialog::Accepted));
      QCOMPARE(d.m_chosenIndex, -1);
    }
    {
      CDeviceSelectDlg d({}, "p", nullptr);
      QCOMPARE(d.List()->count(), 0);
      QTimer::singleShot(0, [&] { QTest::keyClick(&d, Qt::Key_Escape); });
      QCOMPARE(d.exec(), int(QDialog::Rejected));
    }
  }

  void deviceListShowsItsScrollBarOnlyWhenTheEntriesNeedIt() {
    CDeviceSelectDlg d({"Ctl A (Out1/In1)"}, "p", nullptr);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QVERIFY(!d.List()->verticalScrollBar()->isVisible());
    for (int i = 0; i < 20; ++i)
      d.List()->addItem(QString("Ctl %1").arg(i));
    QTRY_VERIFY(d.List()->verticalScrollBar()->isVisible());
  }

  void logControlFollowsTheBufferThroughAppendsAndRemovals() {
    Rig rig;
    Show(rig);
    LogConsole& log = rig.dialog->State().log;
    const char* pieces[] = {
        "\r\nWriting Block 1/3 ...", "OK", "\r\n", "x\r", "\ny", "\r\nÄnderung", ""};
    for (int round = 0; round < 40; ++round) {
      log.AppendLog(pieces[round % 7]);
      if (round % 3 == 2)
        log.RemoveLastLogLine();
      rig.dialog->LogControl()->selectAll();  // whatever the user selects meanwhile
      QCOMPARE(rig.dialog->LogControl()->toPlainText(), Shown(log.Text()));
    }
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
