// The device selection dialog: the devices that answered the scan, in list
// order, over the update file's path. OK returns the last selected entry's
// index (-1 when none was selected); Cancel and Escape cancel.
#pragma once

#include <QDialog>
#include <string>

class QListWidget;
class QLabel;
class QPushButton;

namespace korvane {

class CDeviceSelectDlg : public QDialog {
 public:
  // deviceList: NUL-terminated entries ended by an empty one.
  CDeviceSelectDlg(std::string deviceList, std::string filePath, QWidget* parent);

  QListWidget* List() const { return list_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QLabel* FileName() const { return fileName_; }

  std::string m_deviceList;
  int m_chosenIndex = -1;
  std::string m_filePath;

 private:
  QPushButton* ok_;
  QPushButton* cancel_;
  QListWidget* list_;
  QLabel* fileName_;
};

// The entries of a device list text, up to the first empty one.
QStringList DeviceListEntries(const std::string& deviceList);

}  // namespace korvane
