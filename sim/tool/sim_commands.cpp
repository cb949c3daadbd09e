#include "sim/tool/sim_commands.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <variant>

#include "sim/synthetic_image.h"
#include "sim/tool/controller_session.h"
#include "sim/tool/error_line.h"
#include "sim/tool/ports_thread.h"
#include "sim/tool/sim_options.h"
#include "update/device_messages.h"

namespace korvane {

namespace {

int Usage(const UsageError& error, const std::string& usage) {
  std::cerr << "korvane-sim: " << error.text << "\n\n" << usage;
  return kSimExitUsage;
}

int MakeImage(const std::vector<std::string>& args) {
  auto parsed = ParseMakeImageOptions(args);
  if (auto* error = std::get_if<UsageError>(&parsed))
    return Usage(*error, MakeImageUsage());
  const auto& options = std::get<MakeImageOptions>(parsed);
  if (options.help) {
    std::cout << MakeImageUsage();
    return kSimExitOk;
  }
  const Bytes image = MakeSyntheticImage(options.model, options.messages, options.length,
                                         options.seed, options.addressed);
  if (std::string error = WriteBytesToFile(options.outPath, image); !error.empty()) {
    std::cerr << "korvane-sim: " << error << '\n';
    return kSimExitFailure;
  }
  std::cout << "wrote " << options.outPath << ": " << options.messages << " messages of "
            << options.length << " bytes for the " << ModelName(options.model) << '\n';
  return kSimExitOk;
}

// What the ports' thread sends when no ports could be made.
constexpr int kPortsFailed = SIGUSR2;
// How long the ports may take to close at the end.
constexpr std::chrono::milliseconds kCloseLimit{500};

// Waits for SIGINT, SIGTERM or SIGHUP, the SIGUSR1 sent when the JACK server
// goes away, or kPortsFailed; every thread has them blocked, so no handler
// ever runs: the signal is taken here as an ordinary event.
int WaitForEndSignal(const sigset_t& endSignals) {
  int signal = 0;
  while (sigwait(&endSignals, &signal) != 0) {
  }
  return signal;
}

// Ends the program without waiting for the MIDI system: the ports get a
// moment to close, so that a JACK server is not left to find its clients
// dead, but no more. jack_client_close waits for the server, which with
// many clients ending at once was busy for many seconds (half of twenty
// korvane-sims stopped together hung there). Ports not closed by then go
// with the process.
[[noreturn]] void EndNow(PortsThread& ports, int status) {
  ports.CloseWithin(kCloseLimit);
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "server gone";
  }
}

// --save is looked at before the controller starts: a path that cannot be
// written would otherwise lose the firmware at the end. A file made for the
// look is removed again.
std::string CheckSavePath(const std::string& path) {
  const bool existed = std::filesystem::exists(path);
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr)
    return "cannot write --save " + path + ": " + std::strerror(errno);
  std::fclose(file);
  if (!existed)
    std::filesystem::remove(path);
  return {};
}

int RunController(const std::vector<std::string>& args) {
  auto parsed = ParseSimOptions(args);
  if (auto* error = std::get_if<UsageError>(&parsed))
    return Usage(*error, SimUsage());
  const auto& options = std::get<SimOptions>(parsed);
  if (options.help) {
    std::cout << SimUsage();
    return kSimExitOk;
  }
  if (options.savePath) {
    if (const std::string error = CheckSavePath(*options.savePath); !error.empty()) {
      std::cerr << "korvane-sim: " << error << '\n';
      return kSimExitFailure;
    }
  }

  // Blocked before any thread starts, so that the MIDI system's threads
  // inherit the mask and only sigwait below sees the signals.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, kPortsFailed})
    sigaddset(&endSignals, signal);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  // The ports live on a thread of their own; this one only waits for the
  // end, so a signal ends the program at once, even while the MIDI system
  // keeps the ports' thread waiting.
  PortsThread ports(
      options.api, options.portName,
      std::string(ModelName(options.model.model)) + " \"" + options.model.name + "\"");
  ControllerSession session(
      options.model, [&ports](const Bytes& reply) { ports.Send(reply); }, std::cout,
      [&ports] { ports.Vanish(); });
  ports.Start({.receive = [&session](Bytes message) { session.Deliver(std::move(message)); },
               .newSession = [&session] { session.NewSession(); },
               .failed = [] { kill(getpid(), kPortsFailed); },
               .serverGone = [] { kill(getpid(), SIGUSR1); }});

  const int signal = WaitForEndSignal(endSignals);
  if (signal == kPortsFailed)
    EndNow(ports, kSimExitFailure);
  if (signal == SIGUSR1)
    PrintErrorLine("the JACK server went away; the controller ends");
  // From here on what arrives is dropped and nothing more is sent.
  session.Stop();
  std::cout << "korvane-sim: " << SignalName(signal) << ", " << session.Model().BlocksAccepted()
            << " blocks accepted" << std::endl;

  int status = signal == SIGUSR1 ? kSimExitFailure : kSimExitOk;
  if (options.savePath) {
    const Bytes firmware = session.SavedFirmware();
    if (std::string error = WriteBytesToFile(*options.savePath, firmware); !error.empty()) {
      PrintErrorLine(error);
      status = kSimExitFailure;
    } else {
      std::cout << "korvane-sim: saved " << firmware.size() << " bytes of firmware to "
                << *options.savePath << std::endl;
    }
  }
  EndNow(ports, status);
}

}  // namespace

int RunSimCommand(const std::vector<std::string>& args) {
  if (!args.empty() && args.front() == "make-image")
    return MakeImage(std::vector<std::string>(args.begin() + 1, args.end()));
  return RunController(args);
}

}  // namespace korvane
