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

std::string AlsaWhyNot() {
  SilenceAlsa();
  snd_seq_t* seq = nullptr;
  const int result = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
  if (result < 0) {
    return std::string("the sequencer does not open (") + snd_strerror(result) +
           "; the kernel needs the snd-seq module and /dev/snd/seq)";
  }
  snd_seq_close(seq);
  return {};
}

}  // namespace korvane::rtmidi_backend

#else

namespace korvane::rtmidi_backend {

void SilenceAlsa() {}
std::string AlsaWhyNot() {
  return "not built in";
}

}  // namespace korvane::rtmidi_backend

#endif
