#include "app/qt/device_select_dlg.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "app/qt/dialog_units.h"
#include "run/texts.h"

namespace korvane {

CDeviceSelectDlg::CDeviceSelectDlg(std::vector<std::string> entries, std::string filePath,
                                   QWidget* parent)
    : QDialog(parent), m_entries(std::move(entries)), m_filePath(std::move(filePath)) {
  setObjectName("deviceSelectDialog");
  setWindowTitle(kDeviceCaption);
  // A tool window with a caption and no system menu, so no close box.
  setWindowFlags(Qt::Dialog | Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.Size(186, 108));

  // Created in tab order: OK, Cancel, the list, the file name.
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("control1");
  ok_->setGeometry(du.Rect(7, 87, 50, 14));
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("control2");
  cancel_->setGeometry(du.Rect(129, 87, 50, 14));
  list_ = new QListWidget(this);
  list_->setObjectName("control1010");
  list_->setGeometry(du.Rect(7, 19, 172, 62));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  // As a list box does: the scroll bar shows only while the entries do not fit.
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->setSortingEnabled(false);
  fileName_ = new QLabel("Filename", this);
  fileName_->setObjectName("control1011");
  fileName_->setGeometry(du.Rect(7, 7, 172, 11));
  fileName_->setTextFormat(Qt::PlainText);

  for (const std::string& entry : m_entries)
    list_->addItem(QString::fromStdString(entry));
  fileName_->setText(QString::fromStdString(m_filePath));

  // A selection change (click, arrow keys, double-click alike) is the
  // choice; nothing else reacts to the list, so a double-click does not close.
  connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    m_chosenIndex = selected.isEmpty() ? -1 : list_->row(selected.first());
  });
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  ok_->setFocus();
}

}  // namespace korvane
