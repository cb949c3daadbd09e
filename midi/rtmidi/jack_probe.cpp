#include "midi/rtmidi/api_probe.h"

#if KORVANE_HAVE_JACK
#include <jack/jack.h>

namespace korvane::rtmidi_backend {
namespace {

void QuietJackMessage(const char*) {}

}  // namespace

void SilenceJack() {
  jack_set_error_function(&QuietJackMessage);
  jack_set_info_function(&QuietJackMessage);
}

bool JackCanStart() {
  SilenceJack();
  jack_status_t status{};
  jack_client_t* client = jack_client_open("Korvane Update", JackNoStartServer, &status);
  if (client == nullptr)
    return false;
  jack_client_close(client);
  return true;
}

}  // namespace korvane::rtmidi_backend

#else

namespace korvane::rtmidi_backend {

void SilenceJack() {}
bool JackCanStart() {
  return false;
}

}  // namespace korvane::rtmidi_backend

#endif
