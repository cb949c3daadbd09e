// The panel picture under the main dialog's controls: a controller's front
// panel with rows of knobs and buttons, a display and recesses behind the log
// and the button column. Painted in code in dialog units, so it always fills
// the dialog whatever the font made of its size.
#pragma once

#include <QWidget>

namespace korvane {

class PanelPicture : public QWidget {
 public:
  explicit PanelPicture(QWidget* parent) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace korvane
