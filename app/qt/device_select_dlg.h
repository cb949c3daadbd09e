// The device selection dialog: the devices that answered the scan, in list
// order, over the update file's path. OK returns the last selected entry's
// index (-1 when none was selected); Cancel and Escape cancel.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;
class QLabel;
class QPushButton;

namespace korvane {

class CDeviceSelectDlg : public QDialog {
 public:
  // entries: the device list's entries, shown in this order.
  CDeviceSelectDlg(std::vector<std::string> entries, std::string filePath, QWidget* parent);

  QListWidget* List() const { return list_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QLabel* FileName() const { return fileName_; }

  std::vector<std::string> m_entries;
  int m_chosenIndex = -1;
  std::string m_filePath;

 private:
  QPushButton* ok_;
  QPushButton* cancel_;
  QListWidget* list_;
  QLabel* fileName_;
};

}  // namespace korvane
