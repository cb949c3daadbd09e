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
#include <memory>
#include <mutex>
#include <variant>

#include "sim/synthetic_image.h"
#include "sim/tool/alsa_connection_watch.h"
#include "sim/tool/controller_session.h"
#include "sim/tool/error_line.h"
#include "sim/tool/sim_options.h"
#include "sim/tool/virtual_ports.h"
#include "update/device_messages.h"

namespace korvane {

namespace {

// Generous: a loaded machine may take a while to schedule new MIDI clients.
constexpr std::chrono::milliseconds kReadyDeadline{30000};

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

// Waits for SIGINT, SIGTERM or SIGHUP, or the SIGUSR1 the JACK watch sends
// when the server goes away; every thread has them blocked, so no handler
// ever runs: the signal is taken here as an ordinary event.
int WaitForEndSignal(const sigset_t& endSignals) {
  int signal = 0;
  while (sigwait(&endSignals, &signal) != 0) {
  }
  return signal;
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
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGHUP);
  sigaddset(&endSignals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  // The session is declared before the ports: the ports go first, so no
  // input callback reaches a session that is gone.
  // The session's thread sends while this one puts the ports in and takes
  // them out; a reply with no ports to go to is dropped.
  std::mutex portsMutex;
  std::unique_ptr<VirtualPorts> ports;
  ControllerSession session(
      options.model,
      [&](const Bytes& reply) {
        std::lock_guard lock(portsMutex);
        if (ports)
          ports->Send(reply);
      },
      std::cout);
  auto opened = VirtualPorts::Open(options.api, options.portName, [&session](Bytes message) {
    session.Deliver(std::move(message));
  });
  if (auto* why = std::get_if<std::string>(&opened)) {
    PrintErrorLine(*why);
    return kSimExitFailure;
  }
  {
    std::lock_guard lock(portsMutex);
    ports = std::move(std::get<std::unique_ptr<VirtualPorts>>(opened));
  }
  std::cout << "korvane-sim: " << ModelName(options.model.model) << " \"" << options.model.name
            << "\" on " << ports->ApiName() << ", input \"" << ports->InputName() << "\", output \""
            << ports->OutputName() << "\"" << std::endl;

  // Listed is not yet live: an updater that asks before the ports carry
  // messages gets no answer. Scripts and tests wait for the ready line.
  const bool live = ports->CarryMessages(kReadyDeadline);
  // An updater that connects to the input begins a new update; JACK and ALSA
  // tell. Watched from after the probe, whose own connections are no
  // updater's, and before the ready line, so that no updater comes unseen.
  auto newSession = [&session] { session.NewSession(); };
  std::unique_ptr<JackConnectionWatch> jackWatch;
  std::unique_ptr<AlsaConnectionWatch> alsaWatch;
  if (ports->ApiName() == "JACK") {
    // The JACK watch also hears the server go away, and ends the controller.
    jackWatch = JackConnectionWatch::Start(options.portName + " Watch", ports->InputName(),
                                           newSession, [] { kill(getpid(), SIGUSR1); });
  } else if (ports->ApiName() == "ALSA") {
    alsaWatch = AlsaConnectionWatch::Start(ports->InputClientName(), ports->PortName(), newSession);
  }
  if (live) {
    std::cout << "korvane-sim: ready" << std::endl;
  } else {
    PrintErrorLine("the ports did not carry a test message within " +
                   std::to_string(kReadyDeadline.count() / 1000) +
                   " s; updaters may get no answer");
  }

  const int signal = WaitForEndSignal(endSignals);
  const bool serverGone = signal == SIGUSR1;
  if (serverGone)
    PrintErrorLine("the JACK server went away; the controller ends");
  jackWatch.reset();
  alsaWatch.reset();
  // From here on what arrives is dropped and nothing more is sent.
  session.Stop();
  std::cout << "korvane-sim: " << SignalName(signal) << ", " << session.Model().BlocksAccepted()
            << " blocks accepted" << std::endl;

  int status = serverGone ? kSimExitFailure : kSimExitOk;
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

  // JACK ports are not closed one by one: libjack's notification thread walks
  // a client's port list without a lock while jack_port_unregister (RtMidi's
  // closePort) erases from it, and korvane-sim died of it (SIGSEGV in that
  // thread) when an updater had just left the graph. The server drops the
  // clients of a process that ends, so the process ends with them open.
  if (ports->ApiName() == "JACK") {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::_Exit(status);
  }
  std::unique_ptr<VirtualPorts> closing;
  {
    std::lock_guard lock(portsMutex);
    closing = std::move(ports);
  }
  // Closed outside the lock: closing waits for an input callback that may be
  // handing the session a message.
  closing.reset();
  return status;
}

}  // namespace

int RunSimCommand(const std::vector<std::string>& args) {
  if (!args.empty() && args.front() == "make-image")
    return MakeImage(std::vector<std::string>(args.begin() + 1, args.end()));
  return RunController(args);
}

}  // namespace korvane
