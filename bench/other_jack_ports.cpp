// Other MIDI programs on the machine, as a user's studio has them: N JACK
// clients "Other 1".."Other N", each with a MIDI input and output, active in
// the graph and silent. Prints "other-jack-ports: ready" once all are there
// and runs until SIGINT or SIGTERM. The scan and transfer benchmarks start it
// beside korvane-sim on their private server.
//
// Usage: other-jack-ports N
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Other {
  jack_client_t* client = nullptr;
  jack_port_t* out = nullptr;
};

// As a silent program does: its output carries nothing each period.
int Process(jack_nframes_t frames, void* self) {
  jack_midi_clear_buffer(jack_port_get_buffer(static_cast<Other*>(self)->out, frames));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 0;
  if (count < 1) {
    std::fprintf(stderr, "usage: other-jack-ports N\n");
    return 64;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before libjack's threads inherit the mask
  std::vector<Other> others(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    Other& o = others[static_cast<std::size_t>(k)];
    const std::string name = "Other " + std::to_string(k + 1);
    o.client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (o.client == nullptr) {
      std::fprintf(stderr, "other-jack-ports: no server takes %s\n", name.c_str());
      return 1;
    }
    jack_port_register(o.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    o.out = jack_port_register(o.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(o.client, &Process, &o);
    if (o.out == nullptr || jack_activate(o.client) != 0) {
      std::fprintf(stderr, "other-jack-ports: %s did not start\n", name.c_str());
      return 1;
    }
  }
  std::printf("other-jack-ports: ready\n");
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  for (Other& o : others)
    jack_client_close(o.client);
  return 0;
}
