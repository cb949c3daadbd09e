#include "app/qt/update_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include "app/qt/about_dlg.h"
#include "app/qt/app_icon.h"
#include "app/qt/dialog_units.h"
#include "app/qt/panel_picture.h"
#include "midi/backend_notice.h"
#include "run/texts.h"

namespace korvane {

namespace {

struct ButtonPlace {
  int id;
  int x, y, width, height;
};

// In tab order, as the template lists them.
constexpr ButtonPlace kButtonPlaces[] = {
    {kOpenButton, 198, 94, 39, 11},        {kRescanButton, 198, 108, 39, 11},
    {kUnusedButton1010, 198, 128, 39, 11}, {kUnusedButton1009, 198, 147, 39, 11},
    {kExitButton, 198, 161, 39, 11},
};

QString ControlName(int id) {
  return QString("control%1").arg(id);
}

}  // namespace

CUpdateDlg::CUpdateDlg(MidiServices& midi, QWidget* parent)
    : QDialog(parent),
      icon_(AppIcon()),
      // The controls exist before anything that keeps a pointer to them.
      logView_((BuildControls(), log_)),
      window_(this, logView_, progress_, buttons_),
      state_(std::make_unique<UpdateState>(midi, window_)),
      workflow_(*state_, [this] {
        // Exit posts the close request: it arrives like the close box's.
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
      }) {
  // Why a port is not used goes to the log, from whichever thread opened it.
  SetBackendNoticeSink([this](const std::string& text) { state_->log.AppendLog("\r\n" + text); });
}

CUpdateDlg::~CUpdateDlg() {
  // The user declined the release, or the dialog never ran: workers still
  // must stop before the state they use goes.
  workflow_.Shutdown([this] { window_.StopCalls(); });
  SetBackendNoticeSink(nullptr);  // no port is opened after the workers are gone
}

void CUpdateDlg::BuildControls() {
  setObjectName("updateDialog");
  setWindowTitle(kMainCaption);
  setWindowIcon(icon_);
  // Minimise box, no maximise box, no sizing border.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.Size(254, 207));

  panel_ = new PanelPicture(this);
  panel_->setObjectName(ControlName(kPanelPicture));
  panel_->setGeometry(rect());
  panel_->lower();

  for (const ButtonPlace& place : kButtonPlaces) {
    auto* button = new QPushButton(this);
    button->setObjectName(ControlName(place.id));
    button->setGeometry(du.Rect(place.x, place.y, place.width, place.height));
    button->hide();
    // No button is ever the default: Qt would make the first one, hidden or
    // not, the default of the dialog, and Enter on the log would press it.
    button->setAutoDefault(false);
    buttons_[place.id] = button;
    const int id = place.id;
    connect(button, &QPushButton::clicked, this, [this, id] { workflow_.OnButton(id); });
  }

  log_ = new QPlainTextEdit(this);
  log_->setObjectName(ControlName(kLogControl));
  log_->setGeometry(du.Rect(15, 79, 179, 94));
  log_->setReadOnly(true);
  log_->setUndoRedoEnabled(false);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  log_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  log_->installEventFilter(this);
  // The first control that takes the focus while every button is hidden; it
  // keeps it until the window manager activates the window.
  log_->setFocus();

  progress_ = new QProgressBar(this);
  progress_->setObjectName(ControlName(kProgressBar));
  progress_->setGeometry(du.Rect(15, 172, 179, 9));
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);

  // The platform gives a program no entry in the window manager's system
  // menu; the About item sits in the dialog's context menu instead.
  auto* separator = new QAction(this);
  separator->setSeparator(true);
  auto* about = new QAction(kAboutMenuText, this);
  about->setObjectName("aboutAction");
  connect(about, &QAction::triggered, this, [this] { HandleSysCommand(16); });
  addAction(separator);
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);
}

QPushButton* CUpdateDlg::Button(int id) const {
  auto it = buttons_.find(id);
  return it == buttons_.end() ? nullptr : it->second;
}

void CUpdateDlg::OpenAtStart(std::string path) {
  window_.SetStartFile(std::move(path));
  openAtStart_ = true;
}

void CUpdateDlg::HandleSysCommand(int id) {
  if ((id & ~0xF) != 16)
    return;
  CAboutDlg about(this);
  about.exec();
}

bool CUpdateDlg::event(QEvent* event) {
  if (event->type() == WorkflowEvent::kType) {
    // Steps still queued when the window has gone find nothing to work on.
    if (!released_)
      workflow_.HandleStep(static_cast<WorkflowEvent*>(event)->Step());
    return true;
  }
  return QDialog::event(event);
}

void CUpdateDlg::paintEvent(QPaintEvent* event) {
  if (isMinimized()) {
    QPainter painter(this);
    const int size = style()->pixelMetric(QStyle::PM_LargeIconSize);
    painter.drawPixmap((width() - size + 1) / 2, (height() - size + 1) / 2,
                       icon_.pixmap(size, size));
    return;
  }
  if (!released_)
    workflow_.OnPaint(isVisible());
  // The first paint of the visible window is the one that greets; the click
  // follows it, as a user's would, after the paint.
  if (openAtStart_ && !released_ && isVisible()) {
    openAtStart_ = false;
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (!released_)
            workflow_.OnButton(kOpenButton);
        },
        Qt::QueuedConnection);
  }
  QDialog::paintEvent(event);
}

void CUpdateDlg::closeEvent(QCloseEvent* event) {
  if (!workflow_.CloseAllowed()) {
    event->ignore();  // dropped without a word while busy
    return;
  }
  QDialog::closeEvent(event);  // becomes the cancel command
}

void CUpdateDlg::reject() {
  if (!workflow_.PassCommand(IDCANCEL))
    return;
  QDialog::reject();
}

bool CUpdateDlg::eventFilter(QObject* watched, QEvent* event) {
  // Enter with the focus on the log is the accept command: it ends the run
  // at once, busy or not (the release still asks while busy).
  if (watched == log_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      accept();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CUpdateDlg::keyPressEvent(QKeyEvent* event) {
  // Enter clicks the push button that has the focus; with the focus on no
  // button it is the accept command.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
      button->click();
    else
      accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CUpdateDlg::done(int result) {
  QDialog::done(result);
  if (ended_)
    return;
  ended_ = true;
  released_ = workflow_.Destroy([this] { window_.StopCalls(); });
}

}  // namespace korvane
