// The native dialogs, created from the program's own resources and read back
// through the platform's calls, over the virtual MIDI system.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>

#include "app/win32/device_select_dlg.h"
#include "app/win32/resource.h"
#include "app/win32/update_dlg.h"
#include "run/steps.h"
#include "sim/virtual_midi_services.h"
#include "tests/update/procedure_rig.h"
#include "tests/win32/dialog_driver.h"

namespace korvane {
namespace {

using testing::FromDialogUnits;
using testing::PumpUntil;
using testing::WhenShown;
using testing::WindowText;

constexpr const char* kGreeting =
    "Welcome to the Korvane-Update Utility.\r\nPlease select a file to upload.";

bool Shown(HWND dialog, int id) {
  return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}

std::string ControlText(HWND dialog, int id) {
  return WindowText(GetDlgItem(dialog, id));
}

void ExpectPlace(HWND dialog, int id, int x, int y, int width, int height) {
  const RECT want = FromDialogUnits(dialog, x, y, width, height);
  const RECT got = testing::ControlPlace(dialog, id);
  EXPECT_EQ(got.left, want.left) << id;
  EXPECT_EQ(got.top, want.top) << id;
  EXPECT_EQ(got.right, want.right) << id;
  EXPECT_EQ(got.bottom, want.bottom) << id;
}

void ExpectClientSize(HWND dialog, int width, int height) {
  const RECT want = FromDialogUnits(dialog, 0, 0, width, height);
  RECT client{};
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, want.right);
  EXPECT_EQ(client.bottom, want.bottom);
}

LONG_PTR Style(HWND window) {
  return GetWindowLongPtrA(window, GWL_STYLE);
}

LONG_PTR ExStyle(HWND window) {
  return GetWindowLongPtrA(window, GWL_EXSTYLE);
}

// Writes a file in a fresh temporary folder and returns its full path.
std::string WriteUpdateFile(const std::vector<std::uint8_t>& image) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  const std::string path =
      std::string(folder) + "korvane-dialog-test-" + std::to_string(GetCurrentProcessId()) + ".syx";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr);
  CloseHandle(file);
  return path;
}

// What the open-file dialog showed: its file types, and whether the main
// dialog, its owner, was disabled.
struct FileDialogSeen {
  std::string filter;
  bool ownerDisabled = false;
};

// Answers the open-file dialog with a typed name.
std::unique_ptr<WhenShown> TypeFileName(HWND main, std::string typed, FileDialogSeen* seen) {
  return std::make_unique<WhenShown>(main, "Open", [main, typed, seen](HWND dialog) {
    seen->ownerDisabled = !IsWindowEnabled(main);
    // The file type list (cmb1) and the file name box (cmb13, or edt1).
    HWND types = GetDlgItem(dialog, 0x470);
    char shown[64] = {};
    SendMessageA(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(shown));
    seen->filter = shown;
    const int nameBox = GetDlgItem(dialog, 0x47c) != nullptr ? 0x47c : 0x480;
    SetDlgItemTextA(dialog, nameBox, typed.c_str());
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
  });
}

class UpdateDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  }

  // Creates the main dialog and pumps until its first paint has greeted.
  void Open() {
    dialog_ = std::make_unique<CUpdateDlg>(midi_);
    main_ = dialog_->Create();
    ASSERT_NE(main_, nullptr);
    ASSERT_TRUE(PumpUntil(main_, [&] { return Shown(main_, kOpenButton); }));
  }

  VirtualMidiServices midi_;
  std::unique_ptr<CUpdateDlg> dialog_;
  HWND main_ = nullptr;
};

TEST_F(UpdateDialogTest, MainDialogAsTheTemplateLaysItOut) {
  Open();
  EXPECT_EQ(WindowText(main_), "Aldermark Korvane Update Utility");
  ExpectClientSize(main_, 254, 207);
  const LONG_PTR style = Style(main_);
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  EXPECT_TRUE(ExStyle(main_) & WS_EX_APPWINDOW);
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(main_, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, "MS Sans Serif");

  EXPECT_EQ(testing::ChildOrder(main_),
            (std::vector<int>{1007, 1012, 1011, 1010, 1009, 1008, 1004, 1006}));
  ExpectPlace(main_, kPanelPicture, 0, 0, 256, 208);
  ExpectPlace(main_, kOpenButton, 198, 94, 39, 11);
  ExpectPlace(main_, kRescanButton, 198, 108, 39, 11);
  ExpectPlace(main_, kUnusedButton1010, 198, 128, 39, 11);
  ExpectPlace(main_, kUnusedButton1009, 198, 147, 39, 11);
  ExpectPlace(main_, kExitButton, 198, 161, 39, 11);
  ExpectPlace(main_, kLogControl, 15, 79, 179, 94);
  ExpectPlace(main_, kProgressBar, 15, 172, 179, 9);
  HWND log = GetDlgItem(main_, kLogControl);
  const LONG_PTR logStyle = ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL;
  EXPECT_EQ(Style(log) & logStyle, logStyle);
  EXPECT_TRUE(ExStyle(log) & WS_EX_STATICEDGE);
  HWND picture = GetDlgItem(main_, kPanelPicture);
  EXPECT_EQ(Style(picture) & SS_TYPEMASK, SS_BITMAP);
  EXPECT_NE(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);  // the panel is drawn

  // The first paint greeted and offered Open and Exit; the tab order is the
  // template's, over the controls that are shown.
  EXPECT_EQ(ControlText(main_, kLogControl), kGreeting);
  EXPECT_EQ(ControlText(main_, kOpenButton), "&Open");
  EXPECT_EQ(ControlText(main_, kExitButton), "&Exit");
  for (int hidden : {kRescanButton, kUnusedButton1010, kUnusedButton1009})
    EXPECT_FALSE(Shown(main_, hidden)) << hidden;
  EXPECT_EQ(testing::TabOrder(main_), (std::vector<int>{1012, 1008, 1004}));
  EXPECT_NE(SendMessageA(main_, WM_GETICON, ICON_BIG, 0), 0);

  // The system menu ends with a separator and the About item.
  HMENU menu = GetSystemMenu(main_, FALSE);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  char text[64] = {};
  GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "&About KORVANEUPDATE...");
  EXPECT_EQ(GetMenuItemID(menu, count - 1), 16u);
  EXPECT_TRUE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);

  // Later paints never greet again.
  RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_EQ(dialog_->State().log.Text(), kGreeting);
}

TEST_F(UpdateDialogTest, EnterOnTheIdleLogEndsTheRunAndReleases) {
  Open();
  HWND log = GetDlgItem(main_, kLogControl);
  SetFocus(log);
  PostMessageA(log, WM_KEYDOWN, VK_RETURN, 0);
  ASSERT_TRUE(PumpUntil(main_, [&] { return dialog_->Ended(); }));
  EXPECT_EQ(dialog_->Result(), IDOK);
  EXPECT_FALSE(IsWindow(main_));
  EXPECT_TRUE(dialog_->Released());
  EXPECT_EQ(dialog_->State().log.Capacity(), 0u);
}

TEST_F(UpdateDialogTest, AboutBoxForSystemCommands16To31) {
  Open();
  for (WPARAM command : {16, 31, 32}) {
    std::string text;
    RECT client{}, want{};
    WhenShown about(main_, "About KORVANEUPDATE", [&](HWND box) {
      text = WindowText(FindWindowExA(box, nullptr, "Static", "KORVANEUPDATE Version 1.0"));
      GetClientRect(box, &client);
      want = FromDialogUnits(box, 0, 0, 235, 55);
      SendMessageA(box, WM_COMMAND, IDOK, 0);
    });
    // 32 gets the default handling: the call returns with no box to close.
    SendMessageA(main_, WM_SYSCOMMAND, command, 0);
    if (command == 32) {
      EXPECT_FALSE(about.Found());
      continue;
    }
    EXPECT_EQ(text, "KORVANEUPDATE Version 1.0") << command;
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
  }
}

TEST_F(UpdateDialogTest, DeviceDialogListsInOrderAndReportsTheLastSelection) {
  Open();
  const std::vector<FoundDevice> list{
      {.name = "Ctl A", .outputName = "Out1", .inputName = "In1"},
      {.name = "Ctl B", .outputName = "Out2", .inputName = "In2"},
      {.name = "Ctl C", .outputName = "Out3", .inputName = "In3"},
  };
  std::vector<std::string> entries;
  std::string fileName;
  std::vector<int> tabs;
  bool stayedAfterDoubleClick = false;
  LONG_PTR style = 0, exStyle = 0;
  {
    WhenShown act(main_, "Please select device to update", [&](HWND d) {
      ExpectClientSize(d, 186, 108);
      ExpectPlace(d, IDOK, 7, 87, 50, 14);
      ExpectPlace(d, IDC_DEVICE_LIST, 7, 19, 172, 62);
      style = Style(d);
      exStyle = ExStyle(d);
      HWND box = GetDlgItem(d, IDC_DEVICE_LIST);
      for (int i = 0; i < SendMessageA(box, LB_GETCOUNT, 0, 0); ++i) {
        char entry[64] = {};
        SendMessageA(box, LB_GETTEXT, i, reinterpret_cast<LPARAM>(entry));
        entries.push_back(entry);
      }
      fileName = ControlText(d, IDC_FILE_NAME);
      tabs = testing::TabOrder(d);
      // The arrow keys select; a double-click on entry 1 selects it and
      // leaves the dialog open; the last selection (entry 0) is the choice.
      SendMessageA(box, WM_KEYDOWN, VK_END, 0);
      RECT item{};
      SendMessageA(box, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
      const LPARAM at = MAKELPARAM(item.left + 2, item.top + 2);
      for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
        SendMessageA(box, m, m == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
      stayedAfterDoubleClick = IsWindowVisible(d) && SendMessageA(box, LB_GETCURSEL, 0, 0) == 1;
      SendMessageA(box, WM_KEYDOWN, VK_HOME, 0);
      SendMessageA(d, WM_COMMAND, IDOK, 0);
    });
    const DeviceChoice choice = RunDeviceSelectDialog(main_, list, "C:\\x\\update.syx");
    EXPECT_EQ(choice, std::optional<std::size_t>(0));
  }
  EXPECT_EQ(entries,
            (std::vector<std::string>{"Ctl A (Out1/In1)", "Ctl B (Out2/In2)", "Ctl C (Out3/In3)"}));
  EXPECT_EQ(fileName, "C:\\x\\update.syx");
  EXPECT_EQ(tabs, (std::vector<int>{IDOK, IDCANCEL, IDC_DEVICE_LIST}));
  EXPECT_TRUE(stayedAfterDoubleClick);
  EXPECT_EQ(style & WS_SYSMENU, 0);
  EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);

  // An empty list: Escape cancels.
  WhenShown escape(main_, "Please select device to update", [](HWND d) {
    EXPECT_EQ(SendDlgItemMessageA(d, IDC_DEVICE_LIST, LB_GETCOUNT, 0, 0), 0);
    PostMessageA(GetDlgItem(d, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
  });
  const DeviceChoice cancelled = RunDeviceSelectDialog(main_, {}, "p");
  EXPECT_FALSE(cancelled.has_value());
}

TEST_F(UpdateDialogTest, OpenChecksTheSampleAndScansWithoutAPort) {
  Open();
  char full[MAX_PATH] = {};
  GetFullPathNameA(KORVANE_TEST_DATA_DIR "/trw1000-sample.syx", MAX_PATH, full, nullptr);
  std::string typed = full;
  typed.resize(typed.size() - 4);  // the dialog adds "syx" itself
  FileDialogSeen seen;
  auto answer = TypeFileName(main_, typed, &seen);
  SendDlgItemMessageA(main_, kOpenButton, BM_CLICK, 0, 0);
  EXPECT_FALSE(Shown(main_, kOpenButton));
  ASSERT_TRUE(PumpUntil(main_, [&] { return Shown(main_, kRescanButton); }));
  answer.reset();

  EXPECT_EQ(seen.filter, "SysEx Files (*.syx)");
  EXPECT_TRUE(seen.ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(main_));
  const std::string expected = std::string(kGreeting) + "\r\nChecking file: " + full +
                               "\r\nTRW1000 update file selected." + kCheckingPortsText +
                               kNoPortText;
  EXPECT_EQ(ControlText(main_, kLogControl), expected);
  EXPECT_EQ(dialog_->State().log.Text(), expected);
  EXPECT_EQ(ControlText(main_, kOpenButton), "&Open");
  EXPECT_EQ(ControlText(main_, kRescanButton), "&Rescan");
  for (int id : {kOpenButton, kRescanButton, kExitButton})
    EXPECT_TRUE(Shown(main_, id)) << id;
  for (int id : {kUnusedButton1009, kUnusedButton1010})
    EXPECT_FALSE(Shown(main_, id)) << id;
  EXPECT_EQ(SendDlgItemMessageA(main_, kProgressBar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(testing::TabOrder(main_), (std::vector<int>{1012, 1011, 1008, 1004}));

  // Rescan with no port and the image already loaded: the same message again.
  SendDlgItemMessageA(main_, kRescanButton, BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil(main_, [&] {
    return dialog_->State().log.Text() == expected + kCheckingPortsText + kNoPortText;
  }));
}

TEST_F(UpdateDialogTest, TheDialogsEndCancelsAnOpenFileDialog) {
  Open();
  // The file dialog's worker is not busy: the cancel command passes at once,
  // and the dialog's end has to close the file dialog to join the worker.
  WhenShown end(main_, "Open", [&](HWND) { PostMessageA(main_, WM_COMMAND, IDCANCEL, 0); });
  SendDlgItemMessageA(main_, kOpenButton, BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil(main_, [&] { return dialog_->Released(); }));
  EXPECT_TRUE(end.Found());
  EXPECT_FALSE(dialog_->State().workers.AnyRunning());
  EXPECT_FALSE(dialog_->State().filePath.has_value());
  EXPECT_EQ(dialog_->Result(), IDCANCEL);
}

TEST_F(UpdateDialogTest, ClosingDuringTransferAsksTwiceThenStopsAndReleases) {
  const UINT in = midi_.AddInput("Panel In");
  const UINT out = midi_.AddOutput("Panel Out");
  const int controller = midi_.AttachController(out, {in});
  const std::string path = WriteUpdateFile(testing::MakeImage(600, 300));
  Open();
  FileDialogSeen seen;
  auto answer = TypeFileName(main_, path, &seen);
  WhenShown choose(main_, "Please select device to update",
                   [](HWND d) { SendMessageA(d, WM_COMMAND, IDOK, 0); });
  SendDlgItemMessageA(main_, kOpenButton, BM_CLICK, 0, 0);
  ASSERT_TRUE(
      PumpUntil(main_, [&] { return midi_.Controller(controller).FirmwareMessages() > 0; }));
  ASSERT_TRUE(dialog_->State().busy.IsBusy());

  // The close request is dropped while busy; Escape on the log (the one
  // control shown) asks, and OK keeps the work going.
  SendMessageA(main_, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(main_));
  std::string asked;
  {
    WhenShown ok(main_, "Korvane Update Utility", [&](HWND box) {
      asked = WindowText(GetDlgItem(box, 0xFFFF));
      SendMessageA(box, WM_COMMAND, IDOK, 0);
    });
    PostMessageA(GetDlgItem(main_, kLogControl), WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(PumpUntil(main_, [&] { return ok.Found() && !asked.empty(); }));
  }
  EXPECT_EQ(asked,
            "There is an operation in progrss which should not be interrupted.\r\nYou may "
            "interrupt it on your own risk by pressing [CANCEL]\r\nOtherwise press [OK] "
            "to continue");
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_TRUE(dialog_->State().workers.AnyRunning());

  // Cancel ends the dialog; its end asks again, and OK stops and joins the
  // transfer before anything is released and every port is closed.
  std::string destroyAsked;
  WhenShown cancel(main_, "Korvane Update Utility", [&](HWND box) {
    SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
    // The second question comes from the window's end.
    for (int i = 0; i < 3000 && destroyAsked.empty(); ++i) {
      Sleep(10);
      HWND second = testing::FindOwnedDialog(main_, "Korvane Update Utility");
      if (second != nullptr && second != box) {
        destroyAsked = WindowText(GetDlgItem(second, 0xFFFF));
        SendMessageA(second, WM_COMMAND, IDOK, 0);
      }
    }
  });
  SendMessageA(main_, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(PumpUntil(main_, [&] { return dialog_->Released(); }));
  EXPECT_EQ(destroyAsked,
            "There is an operation in progrss which should not be interrupted.\r\n"
            "You may interrupt it on your own risk by pressing [OK]\r\nOtherwise "
            "press [CANCEL]");
  EXPECT_FALSE(IsWindow(main_));
  EXPECT_FALSE(dialog_->State().workers.AnyRunning());
  EXPECT_EQ(dialog_->State().ports.InputHead(), nullptr);
  EXPECT_EQ(dialog_->State().ports.OutputHead(), nullptr);
  EXPECT_EQ(midi_.CallCount(MidiCall::kInClose), midi_.CallCount(MidiCall::kInOpen));
  EXPECT_EQ(midi_.CallCount(MidiCall::kOutClose), midi_.CallCount(MidiCall::kOutOpen));
  EXPECT_LT(midi_.Controller(controller).FirmwareMessages(), 600u);
}

// The record every program that shows the dialogs carries, this test too.
TEST(VersionRecordTest, NamesTheProgramAndItsVersion) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &unused);
  ASSERT_GT(size, 0u);
  std::vector<char> record(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, record.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  for (DWORD most : {fixed->dwFileVersionMS, fixed->dwProductVersionMS})
    EXPECT_EQ(most, 0x10000u);
  for (DWORD least : {fixed->dwFileVersionLS, fixed->dwProductVersionLS})
    EXPECT_EQ(least, 1u);
  const auto value = [&](const std::string& name) {
    char* text = nullptr;
    const std::string key = "\\StringFileInfo\\040904B0\\" + name;
    return VerQueryValueA(record.data(), key.c_str(), reinterpret_cast<void**>(&text), &length)
               ? std::string(text)
               : std::string();
  };
  EXPECT_EQ(value("Comments"), "Update Utility for Korvane Series");
  EXPECT_EQ(value("InternalName"), "KORVANEUPDATE");
  EXPECT_EQ(value("ProductName"), "KORVANEUPDATE Application");
  EXPECT_EQ(value("FileVersion"), "1, 0, 0, 1");
}

}  // namespace
}  // namespace korvane
