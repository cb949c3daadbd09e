#include "midi/winmm/port_claim.h"

#include <utility>

#include "midi/backend_notice.h"

namespace korvane::winmm_backend {

PortClaim::PortClaim(PortClaim&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), failure_(other.failure_) {}

PortClaim& PortClaim::operator=(PortClaim&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, nullptr);
    failure_ = other.failure_;
  }
  return *this;
}

bool PortClaim::Take(bool input, std::string_view portName) {
  Release();
  failure_ = 0;
  const std::string name = PortClaimName(input, portName);
  HANDLE handle = CreateMutexA(nullptr, FALSE, name.c_str());
  const DWORD error = GetLastError();
  if (handle == nullptr) {
    // A holder of another user, whose mutex we may not open, is a holder too.
    if (error != ERROR_ACCESS_DENIED)
      failure_ = error;
    return false;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);
    return false;
  }
  handle_ = handle;
  return true;
}

void PortClaim::Release() {
  if (handle_ != nullptr)
    CloseHandle(std::exchange(handle_, nullptr));
}

std::string PortClaimName(bool input, std::string_view portName) {
  std::string name = input ? "Global\\korvane-update-port-in-" : "Global\\korvane-update-port-out-";
  for (char c : portName)
    name += c == '\\' ? '/' : c;
  return name;
}

MMRESULT ClaimForOpen(PortClaim& claim, bool input, std::string_view portName) {
  if (claim.Take(input, portName))
    return MMSYSERR_NOERROR;
  if (claim.Failure() != 0)
    BackendNotice("korvane-update: cannot claim the MIDI port \"" + std::string(portName) +
                  "\" (error " + std::to_string(claim.Failure()) + "); it is not used");
  return MMSYSERR_ALLOCATED;
}

}  // namespace korvane::winmm_backend
