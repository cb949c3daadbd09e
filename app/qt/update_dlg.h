// The main dialog: the panel picture under the log, the progress bar and the
// column of push buttons, laid out in dialog units; it owns the update state
// and hands posted steps, button clicks, the close guards, the first paint and
// its own end to the workflow.
#pragma once

#include <QDialog>
#include <QIcon>
#include <map>
#include <memory>
#include <string>

#include "app/qt/log_view.h"
#include "app/qt/qt_window.h"
#include "run/texts.h"
#include "run/update_state.h"
#include "workflow/workflow.h"

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace korvane {

class PanelPicture;

class CUpdateDlg : public QDialog {
 public:
  explicit CUpdateDlg(MidiServices& midi, QWidget* parent = nullptr);
  ~CUpdateDlg() override;

  // The cancel command (Escape, or a close request that passed its guard):
  // while busy the user is asked first.
  void reject() override;
  // The dialog's run ends; then the window's end: the release of everything.
  void done(int result) override;

  // Before the dialog shows: after the greeting, the window goes on as if
  // Open had been clicked and path (a full path) chosen in the file dialog.
  void OpenAtStart(std::string path);

  // A system menu command: 16 to 31 open the About box.
  void HandleSysCommand(int id);

  UpdateState& State() { return *state_; }
  Workflow& Flow() { return workflow_; }
  QtWindow& WindowSeam() { return window_; }
  QPushButton* Button(int id) const;
  QPlainTextEdit* LogControl() const { return log_; }
  QProgressBar* Progress() const { return progress_; }
  const LogView& Log() const { return logView_; }
  bool Released() const { return released_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();

  QIcon icon_;
  PanelPicture* panel_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
  std::map<int, QPushButton*> buttons_;
  LogView logView_;
  QtWindow window_;
  // Declared after the window: the state logs through it until it is gone.
  std::unique_ptr<UpdateState> state_;
  Workflow workflow_;
  bool openAtStart_ = false;
  bool ended_ = false;
  bool released_ = false;
};

}  // namespace korvane
