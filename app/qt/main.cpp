// korvane-update: the window over the computer's real MIDI ports.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/start_command.h"
#include "app/qt/update_app.h"
#include "app/standard_streams.h"

#include "midi/platform_midi.h"

int main(int argc, char** argv) {
  using namespace korvane;
  ReopenClosedStandardStreams();
  // --help and --version are answered before QApplication, which needs a display.
  const StartCommand early = ParseStartCommand(std::vector<std::string>(argv + 1, argv + argc));
  if (early.mode == StartCommand::Mode::kHelp) {
    std::cout << StartUsageText();
    return 0;
  }
  if (early.mode == StartCommand::Mode::kVersion) {
    std::cout << StartVersionText();
    return 0;
  }

  QApplication application(argc, argv);
  // Qt has taken its own options out of the arguments by now.
  std::vector<std::string> args;
  for (const QString& arg : QApplication::arguments().mid(1))
    args.push_back(arg.toStdString());
  const StartCommand command = ParseStartCommand(args);
  if (command.mode == StartCommand::Mode::kError) {
    std::cerr << "korvane-update: " << command.error << "\n\n" << StartUsageText();
    return kStartExitUsage;
  }

  CUpdateApp app;
  const std::unique_ptr<MidiServices> midi = MakePlatformMidiServices();
  std::optional<std::string> startFile;
  if (command.file) {
    // A full path, as the open-file dialog hands back.
    const QString file = QString::fromStdString(*command.file);
    startFile = QDir::cleanPath(QFileInfo(file).absoluteFilePath()).toStdString();
  }
  return app.InitInstance(*midi, startFile);
}
