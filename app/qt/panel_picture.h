// The panel picture under the main dialog's controls (app/panel_description.h),
// painted with QPainter and scaled to the widget, so it always fills the
// dialog whatever the font made of its size.
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
