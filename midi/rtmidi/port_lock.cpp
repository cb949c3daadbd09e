#include "midi/rtmidi/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace korvane::rtmidi_backend {
namespace {

// Longer names are cut and told apart by a hash of the whole key.
constexpr std::size_t kMaxFileName = 160;

bool SafeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// A folder only this user can write to, or nothing. The runtime directory is
// private by definition; the fallback in /tmp is checked, since someone else
// could have made it first.
std::optional<std::string> LockDirectory() {
  std::string dir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    dir = std::string(runtime) + "/korvane-update";
  } else {
    dir = "/tmp/korvane-update-" + std::to_string(geteuid());
  }
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return std::nullopt;
  struct stat info {};
  if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return std::nullopt;
  }
  return dir;
}

}  // namespace

PortLock::~PortLock() {
  Release();
}

PortLock::PortLock(PortLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

PortLock& PortLock::operator=(PortLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

PortLock::Outcome PortLock::Take(std::string_view key) {
  Release();
  const std::optional<std::string> dir = LockDirectory();
  if (!dir)
    return Outcome::kUnavailable;
  const std::string path = *dir + "/" + PortLockFileName(key);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    return Outcome::kUnavailable;
  // The lock belongs to this open file: a second open of the same port, in
  // this process or another, finds it taken.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? Outcome::kBusy : Outcome::kUnavailable;
  }
  fd_ = fd;
  return Outcome::kHeld;
}

void PortLock::Release() {
  if (fd_ >= 0)
    close(fd_);  // closing the only descriptor releases the lock
  fd_ = -1;
}

std::string PortLockKey(std::string_view api, bool input, std::string_view portName) {
  std::string key(api);
  key += input ? "-in-" : "-out-";
  if (api == "jack") {
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    key += server != nullptr && server[0] != '\0' ? server : "default";
    key += '-';
  }
  key += portName;
  return key;
}

std::string PortLockFileName(std::string_view key) {
  std::string name;
  for (char c : key) {
    if (SafeChar(c)) {
      name += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      name += escaped;
    }
  }
  if (name.size() > kMaxFileName) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(key)));
    name = name.substr(0, kMaxFileName - 17) + "~" + hash;
  }
  return name + ".lock";
}

}  // namespace korvane::rtmidi_backend
