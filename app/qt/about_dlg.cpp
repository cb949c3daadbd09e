#include "app/qt/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/qt/app_icon.h"
#include "app/qt/dialog_units.h"
#include "run/texts.h"

namespace korvane {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("aboutDialog");
  setWindowTitle(kAboutCaption);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.Size(235, 55));

  auto* icon = new QLabel(this);
  icon->setObjectName("aboutIcon");
  icon->setGeometry(du.Rect(11, 17, 21, 20));
  icon->setPixmap(AppIcon().pixmap(32, 32));
  icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* text = new QLabel(kAboutText, this);
  text->setObjectName("aboutText");
  text->setTextFormat(Qt::PlainText);  // no mnemonic prefixes
  text->setGeometry(du.Rect(40, 7, 119, 8));

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("control1");
  ok->setGeometry(du.Rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  ok->setFocus();
}

}  // namespace korvane
