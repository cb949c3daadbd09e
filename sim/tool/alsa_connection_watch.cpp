#include "sim/tool/alsa_connection_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#ifdef KORVANE_SIM_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace korvane {

#ifdef KORVANE_SIM_HAVE_ALSA

struct AlsaConnectionWatch::Sequencer {
  snd_seq_t* handle = nullptr;
  snd_seq_addr_t watched{};  // the port whose subscriptions count
  ~Sequencer() {
    if (handle != nullptr)
      snd_seq_close(handle);
  }
};

namespace {

// Whether a client was opened by one of this process's threads: the
// sequencer records the thread's id, not the process's.
bool OpenedHere(snd_seq_client_info_t* client) {
  const int opener = snd_seq_client_info_get_pid(client);
  return opener == getpid() ||
         (opener > 0 && access(("/proc/self/task/" + std::to_string(opener)).c_str(), F_OK) == 0);
}

// The address of port portName of our own client clientName. ALSA lets
// clients share a name, so the opener tells ours.
bool FindOwnPort(snd_seq_t* seq, const std::string& clientName, const std::string& portName,
                 snd_seq_addr_t& address) {
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq, client) >= 0) {
    if (clientName != snd_seq_client_info_get_name(client) || !OpenedHere(client)) {
      continue;
    }
    snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
    snd_seq_port_info_set_port(port, -1);
    while (snd_seq_query_next_port(seq, port) >= 0) {
      if (portName == snd_seq_port_info_get_name(port)) {
        address = *snd_seq_port_info_get_addr(port);
        return true;
      }
    }
  }
  return false;
}

}  // namespace

std::unique_ptr<AlsaConnectionWatch> AlsaConnectionWatch::Start(const std::string& clientName,
                                                                const std::string& portName,
                                                                std::function<void()> onConnect) {
  std::unique_ptr<AlsaConnectionWatch> watch(new AlsaConnectionWatch());
  watch->seq_ = std::make_unique<Sequencer>();
  snd_seq_t*& seq = watch->seq_->handle;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
    seq = nullptr;
    return nullptr;
  }
  snd_seq_set_client_name(seq, (clientName + " Watch").c_str());
  // Written to only by the announcements: no other program sees or uses it.
  const int own = snd_seq_create_simple_port(seq, "announcements",
                                             SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                             SND_SEQ_PORT_TYPE_APPLICATION);
  if (own < 0 ||
      snd_seq_connect_from(seq, own, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0 ||
      !FindOwnPort(seq, clientName, portName, watch->seq_->watched) ||
      pipe2(watch->wake_, O_CLOEXEC) != 0) {
    return nullptr;
  }
  watch->onConnect_ = std::move(onConnect);
  watch->thread_ = std::thread([w = watch.get()] { w->Run(); });
  return watch;
}

AlsaConnectionWatch::~AlsaConnectionWatch() {
  if (thread_.joinable()) {
    const char stop = 0;
    while (write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (const int fd : wake_) {
    if (fd >= 0)
      close(fd);
  }
}

void AlsaConnectionWatch::Run() {
  snd_seq_t* seq = seq_->handle;
  const int count = snd_seq_poll_descriptors_count(seq, POLLIN);
  std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
  fds[0] = {wake_[0], POLLIN, 0};
  snd_seq_poll_descriptors(seq, fds.data() + 1, static_cast<unsigned>(count), POLLIN);
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
      return;
    if (fds[0].revents != 0)
      return;
    for (;;) {
      snd_seq_event_t* event = nullptr;
      const int left = snd_seq_event_input(seq, &event);
      if (left == -ENOSPC)
        continue;  // an overrun loses announcements only
      if (left < 0)
        break;  // -EAGAIN: all read
      if (event == nullptr || event->type != SND_SEQ_EVENT_PORT_SUBSCRIBED)
        continue;
      const snd_seq_addr_t& dest = event->data.connect.dest;
      if (dest.client == seq_->watched.client && dest.port == seq_->watched.port)
        onConnect_();
    }
  }
}

#else

struct AlsaConnectionWatch::Sequencer {};

std::unique_ptr<AlsaConnectionWatch> AlsaConnectionWatch::Start(const std::string&,
                                                                const std::string&,
                                                                std::function<void()>) {
  return nullptr;
}

AlsaConnectionWatch::~AlsaConnectionWatch() = default;

void AlsaConnectionWatch::Run() {}

#endif

}  // namespace korvane
