#include "app/qt/qt_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include "app/qt/device_select_dlg.h"
#include "app/qt/log_view.h"
#include "app/qt/private_settings.h"
#include "run/texts.h"

namespace korvane {

namespace {

QString FromText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtWindow::QtWindow(QWidget* dialog, LogView& log, QProgressBar* progress,
                   std::map<int, QPushButton*> buttons)
    : dialog_(dialog), log_(log), progress_(progress), buttons_(std::move(buttons)) {}

template <class R>
R QtWindow::Call(std::function<R()> work, R fallback) {
  if (QThread::currentThread() == thread())
    return work();
  if (CallsStopped())
    return fallback;
  // Shared with the queued call, which may run after the worker stopped
  // waiting; it then finds the calls stopped and touches nothing.
  struct Pending {
    bool done = false;
    R result;
  };
  auto pending = std::make_shared<Pending>();
  pending->result = fallback;
  QMetaObject::invokeMethod(
      this,
      [this, pending, work = std::move(work)] {
        if (CallsStopped())
          return;
        R result = work();
        std::lock_guard lock(mutex_);
        pending->result = std::move(result);
        pending->done = true;
        finished_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return pending->done || CallsStopped(); });
  return pending->result;
}

void QtWindow::Run(std::function<void()> work) {
  Call<bool>(
      [work = std::move(work)] {
        work();
        return true;
      },
      false);
}

void QtWindow::StopCalls() {
  {
    std::lock_guard lock(mutex_);
    stopped_.store(true, std::memory_order_release);
  }
  finished_.notify_all();
  if (fileDialog_)
    fileDialog_->reject();
}

void QtWindow::LogSetSelection(std::size_t from, std::size_t to) {
  Run([this, from, to] { log_.SetSelection(from, to); });
}

void QtWindow::LogReplaceSelection(std::string_view text) {
  Run([this, copy = std::string(text)] { log_.ReplaceSelection(copy); });
}

void QtWindow::LogScrollCaret() {
  Run([this] { log_.ScrollCaret(); });
}

void QtWindow::ShowProgress() {
  // An empty range would turn the bar into a busy indicator; it shows as a
  // bar of one piece instead.
  if (progressHigh_ <= progressLow_) {
    progress_->setRange(0, 1);
    progress_->setValue(progressPos_ > progressLow_ ? 1 : 0);
    return;
  }
  progress_->setRange(progressLow_, progressHigh_);
  progress_->setValue(std::clamp(progressPos_, progressLow_, progressHigh_));
}

void QtWindow::ProgressSetRange(int low, int high) {
  Run([this, low, high] {
    progressLow_ = low;
    progressHigh_ = high;
    ShowProgress();
  });
}

void QtWindow::ProgressSetPosition(int position) {
  Run([this, position] {
    progressPos_ = position;
    ShowProgress();
  });
}

void QtWindow::ProgressStep() {
  Run([this] {
    // A step past the end starts the bar over, as the platform's bar does.
    progressPos_ = progressPos_ + 1 > progressHigh_ ? progressLow_ : progressPos_ + 1;
    ShowProgress();
  });
}

void QtWindow::ProgressEnable(bool enabled) {
  Run([this, enabled] { progress_->setEnabled(enabled); });
}

void QtWindow::SetButtonText(int id, std::string_view text) {
  Run([this, id, copy = FromText(text)] {
    if (auto it = buttons_.find(id); it != buttons_.end())
      it->second->setText(copy);
  });
}

void QtWindow::ShowButton(int id) {
  Run([this, id] {
    // 1009 and 1010 have no role and stay hidden for good.
    if (id == kUnusedButton1009 || id == kUnusedButton1010)
      return;
    if (auto it = buttons_.find(id); it != buttons_.end())
      it->second->show();
  });
}

void QtWindow::HideButton(int id) {
  Run([this, id] {
    if (auto it = buttons_.find(id); it != buttons_.end())
      it->second->hide();
  });
}

void QtWindow::SetWaitCursor() {
  Run([this] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++overrideCursors_;
  });
}

void QtWindow::RestoreCursor() {
  Run([this] {
    if (overrideCursors_ == 0)
      return;
    QApplication::restoreOverrideCursor();
    --overrideCursors_;
  });
}

void QtWindow::PostStep(int step) {
  QCoreApplication::postEvent(dialog_, new WorkflowEvent(step));
}

std::optional<std::string> QtWindow::RunFileDialog() {
  // Before the dialog, which reads the settings when it is built and writes
  // them when it is destroyed.
  PrivateSettings settings;
  QFileDialog dialog(dialog_);
  dialog.setObjectName("fileDialog");
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // A name that does not exist is accepted; the load then reports it.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(kFileFilterName);
  dialog.setDefaultSuffix("syx");
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setWindowModality(Qt::ApplicationModal);
  fileDialog_ = &dialog;
  const int result = dialog.exec();
  fileDialog_ = nullptr;
  if (result != QDialog::Accepted || CallsStopped())
    return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty())
    return std::nullopt;
  return QFileInfo(chosen.first()).absoluteFilePath().toStdString();
}

std::optional<std::string> QtWindow::ChooseUpdateFile() {
  return Call<std::optional<std::string>>(
      [this] {
        if (!startFile_)
          return RunFileDialog();
        std::optional<std::string> path = std::move(startFile_);
        startFile_.reset();
        return path;
      },
      std::nullopt);
}

DeviceChoice QtWindow::ChooseDevice(const std::vector<FoundDevice>& devices,
                                    const std::string& filePath) {
  return Call<DeviceChoice>(
      [this, entries = DeviceEntries(devices), filePath] {
        CDeviceSelectDlg dialog(entries, filePath, dialog_);
        const bool accepted = dialog.exec() == QDialog::Accepted;
        return ChoiceOfDialog(accepted, dialog.m_chosenIndex);
      },
      DeviceChoice{});
}

bool QtWindow::AskOkCancel(std::string_view caption, std::string_view text) {
  return Call<bool>(
      [this, caption = FromText(caption), text = std::string(text)] {
        QMessageBox box(QMessageBox::NoIcon, caption, LogView::Display(text),
                        QMessageBox::Ok | QMessageBox::Cancel, dialog_);
        box.setObjectName("questionBox");
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok;
      },
      false);
}

}  // namespace korvane
