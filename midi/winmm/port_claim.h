// One updater per port on Windows too. Most WinMM drivers refuse a port that
// another program holds (MMSYSERR_ALLOCATED), but a driver that serves many
// clients at once, Wine's ALSA driver among them, opens it a second time, and
// two firmware streams would interleave in one controller. So each port we
// open is also claimed with a named mutex for its direction and name, in the
// global namespace so that programs of every session see it. The system
// releases it when the process ends, however it ends.
#pragma once

#include <string>
#include <string_view>

#include "midi/winmm.h"

namespace korvane::winmm_backend {

class PortClaim {
 public:
  PortClaim() = default;
  ~PortClaim() { Release(); }
  PortClaim(PortClaim&& other) noexcept;
  PortClaim& operator=(PortClaim&& other) noexcept;
  PortClaim(const PortClaim&) = delete;
  PortClaim& operator=(const PortClaim&) = delete;

  // True when the port is now ours; false when any holder, this process
  // included, has it, or the claim cannot be made (Failure() says why).
  bool Take(bool input, std::string_view portName);
  void Release();
  bool Held() const { return handle_ != nullptr; }
  // After a false Take that was not a holder's: the system's error code.
  DWORD Failure() const { return failure_; }

 private:
  HANDLE handle_ = nullptr;
  DWORD failure_ = 0;
};

// The mutex's name: a backslash, which a name may not hold past its
// namespace, becomes a slash.
std::string PortClaimName(bool input, std::string_view portName);

// What opening the port answers for its claim: MMSYSERR_NOERROR with claim
// holding it, else MMSYSERR_ALLOCATED (a failure is said once, through
// BackendNotice).
MMRESULT ClaimForOpen(PortClaim& claim, bool input, std::string_view portName);

}  // namespace korvane::winmm_backend
