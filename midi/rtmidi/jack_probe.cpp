#include "midi/rtmidi/api_probe.h"

#if KORVANE_HAVE_JACK
#include <jack/jack.h>
#include <signal.h>

#include <csignal>
#include <cstdlib>

namespace korvane::rtmidi_backend {
namespace {

void QuietJackMessage(const char*) {}

}  // namespace

void SilenceJack() {
  jack_set_error_function(&QuietJackMessage);
  jack_set_info_function(&QuietJackMessage);
  // libjack writes to the server's socket, from our threads and its own; a
  // server that died must end in an error we report, not in SIGPIPE killing
  // the updater mid-verdict. A handler someone installed is left alone.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    std::signal(SIGPIPE, SIG_IGN);
}

std::string JackWhyNot() {
  SilenceJack();
  jack_status_t status{};
  jack_client_t* client = jack_client_open("Korvane Update", JackNoStartServer, &status);
  if (client == nullptr) {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    return std::string("no server \"") + (server != nullptr && *server ? server : "default") +
           "\" accepts clients";
  }
  jack_client_close(client);
  return {};
}

}  // namespace korvane::rtmidi_backend

#else

namespace korvane::rtmidi_backend {

void SilenceJack() {}
std::string JackWhyNot() {
  return "not built in";
}

}  // namespace korvane::rtmidi_backend

#endif
