// korvane-update FILE: the window checks the file at once, as after Open,
// without showing the open-file dialog; the command line that leads there.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/qt/start_command.h"
#include "app/qt/update_dlg.h"
#include "run/update_state.h"
#include "sim/virtual_midi_services.h"

using namespace korvane;

class StartFileTest : public QObject {
  Q_OBJECT

 private slots:
  void fileOnTheCommandLineIsCheckedWithoutTheDialog() {
    const std::string path =
        QDir::cleanPath(QDir(KORVANE_TEST_DATA_DIR).absoluteFilePath("trw1000-sample.syx"))
            .toStdString();
    int fileDialogs = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&fileDialogs] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        ++fileDialogs;
        dialog->reject();
      }
    });
    watch.start(5);

    VirtualMidiServices midi;  // no port: the check ends at the port scan
    CUpdateDlg dialog(midi);
    dialog.OpenAtStart(path);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTRY_VERIFY_WITH_TIMEOUT(dialog.Button(kRescanButton)->isVisible(), 30000);
    const std::string expected = std::string(kGreetingText) + kSelectFileText +
                                 "\r\nChecking file: " + path + "\r\nTRW1000 update file selected.";
    QCOMPARE(QString::fromStdString(dialog.State().log.Text().substr(0, expected.size())),
             QString::fromStdString(expected));
    QCOMPARE(fileDialogs, 0);

    // The file was for the start only: Open asks again.
    dialog.Button(kOpenButton)->click();
    QTRY_COMPARE(fileDialogs, 1);
    QTRY_VERIFY(dialog.Button(kOpenButton)->isVisible());
  }

  void commandLineTakesOneFileHelpAndVersion() {
    using Mode = StartCommand::Mode;
    const auto parse = [](std::vector<std::string> args) { return ParseStartCommand(args); };
    QVERIFY(parse({}).mode == Mode::kWindow && !parse({}).file);
    QCOMPARE(parse({"a.syx"}).file.value_or(""), std::string("a.syx"));
    QCOMPARE(parse({"--", "-odd.syx"}).file.value_or(""), std::string("-odd.syx"));
    // Found among what Qt has not taken out yet, before the window system starts.
    QVERIFY(parse({"-platform", "offscreen", "--help"}).mode == Mode::kHelp);
    QVERIFY(parse({"x.syx", "--version"}).mode == Mode::kVersion);
    QVERIFY(parse({"--", "--help"}).mode == Mode::kWindow);
    QVERIFY(parse({"a.syx", "b.syx"}).mode == Mode::kError);
    QVERIFY(parse({"--bogus"}).mode == Mode::kError);
  }
};

QTEST_MAIN(StartFileTest)
#include "start_file_test.moc"
