// The program's windows on a private X server (Xvfb, through Qt's xcb
// platform), where the window system itself decides what shows and when a
// window becomes active. Skips, saying why, only when no X server can be
// started.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <cstdio>

#include "app/qt/about_dlg.h"
#include "app/qt/device_select_dlg.h"
#include "app/qt/update_app.h"
#include "app/qt/update_dlg.h"
#include "sim/virtual_midi_services.h"
#include "tests/gui/when_modal.h"
#include "tests/gui/xvfb_display.h"
#include "workflow/workflow.h"

using namespace korvane;

namespace {

constexpr int kSkipped = 77;  // the test's SKIP_RETURN_CODE

// One text property of the widget's X window, as xprop prints it.
QString XProperty(QWidget* window, const char* name) {
  QProcess xprop;
  xprop.start("xprop", {"-id", QString::number(window->winId()), "-notype", name});
  if (!xprop.waitForFinished(10000))
    return "xprop did not run: " + xprop.errorString();
  // NAME = "text", or NAME:  not found.
  const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
  const qsizetype open = out.indexOf('"');
  if (open < 0 || !out.endsWith('"'))
    return out;
  return out.mid(open + 1, out.size() - open - 2);
}

// The caption as the window system has it, once the window is on the screen:
// the older WM_NAME and the UTF-8 _NET_WM_NAME must agree.
QString ShownTitle(QWidget* window) {
  if (!QTest::qWaitForWindowExposed(window))
    return "never shown";
  const QString icccm = XProperty(window, "WM_NAME");
  const QString ewmh = XProperty(window, "_NET_WM_NAME");
  return icccm == ewmh ? ewmh : "WM_NAME " + icccm + " | _NET_WM_NAME " + ewmh;
}

}  // namespace

class X11WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void everyWindowShowsItsOwnCaption() {
    CUpdateApp app;  // names the program as korvane-update does
    VirtualMidiServices midi;
    CUpdateDlg dialog(midi);
    dialog.show();
    QCOMPARE(ShownTitle(&dialog), QString("Aldermark Korvane Update Utility"));

    QString about, device, question, file;
    WhenModal<CAboutDlg>([&](CAboutDlg* d) {
      about = ShownTitle(d);
      d->accept();
    });
    dialog.HandleSysCommand(16);
    QCOMPARE(about, QString("About KORVANEUPDATE"));

    QtWindow& window = dialog.WindowSeam();
    WhenModal<CDeviceSelectDlg>([&](CDeviceSelectDlg* d) {
      device = ShownTitle(d);
      d->reject();
    });
    window.ChooseDevice({{.name = "Ctl A", .outputName = "Out1", .inputName = "In1"}},
                        "/x/update.syx");
    QCOMPARE(device, QString("Please select device to update"));

    WhenModal<QMessageBox>([&](QMessageBox* box) {
      question = ShownTitle(box);
      box->button(QMessageBox::Ok)->click();
    });
    window.AskOkCancel(kQuestionCaption, kCancelQuestion);
    QCOMPARE(question, QString("Korvane Update Utility"));

    // The program gives the file dialog no caption: the toolkit's own.
    WhenModal<QFileDialog>([&](QFileDialog* d) {
      file = ShownTitle(d);
      d->reject();
    });
    window.ChooseUpdateFile();
    QCOMPARE(file, QString("Open"));
  }

  // A window manager activates the window once it is on the screen, after
  // the greeting has shown Open and Exit; the focus must still start on the
  // log, and no button is the default, so Enter ends the run.
  void enterOnceTheWindowIsActiveEndsTheRun() {
    VirtualMidiServices midi;
    CUpdateDlg dialog(midi);
    dialog.show();
    QTRY_VERIFY(dialog.Button(kOpenButton)->isVisible());
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.LogControl());
    for (int id : {kOpenButton, kRescanButton, kUnusedButton1010, kUnusedButton1009, kExitButton})
      QVERIFY(!dialog.Button(id)->isDefault());
    QTest::keyClick(dialog.windowHandle(), Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }
};

int main(int argc, char** argv) {
  korvane::testing::XvfbDisplay server;
  std::string reason;
  const std::string display = server.Start(reason);
  if (display.empty()) {
    std::printf("SKIP   : x11_window_test: no X server: %s\n", reason.c_str());
    return kSkipped;
  }
  qputenv("DISPLAY", display.c_str());
  qputenv("QT_QPA_PLATFORM", "xcb");
  QApplication application(argc, argv);
  X11WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "x11_window_test.moc"
