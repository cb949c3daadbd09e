#include "midi/rtmidi/api_probe.h"

#if KORVANE_HAVE_ALSA
#include <alsa/asoundlib.h>

namespace korvane::rtmidi_backend {
namespace {

void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void SilenceAlsa() {
  snd_lib_error_set_handler(&QuietAlsaError);
}

bool AlsaCanStart() {
  SilenceAlsa();
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
    return false;
  snd_seq_close(seq);
  return true;
}

}  // namespace korvane::rtmidi_backend

#else

namespace korvane::rtmidi_backend {

void SilenceAlsa() {}
bool AlsaCanStart() {
  return false;
}

}  // namespace korvane::rtmidi_backend

#endif
