// Sends one whole message on an RtMidi output, the one way every RtMidi
// sender of ours (the back-end, korvane-sim, the test peer) sends.
//
// On JACK, RtMidi hands the message to its process thread through JACK's
// lock-free ring buffer. ThreadSanitizer sees the copies into and out of it
// (memcpy) but not JACK's ordering (JACK is not instrumented), and reports a
// race when the process thread copies the message out. Suppressed or not, the
// report is made right there, and the first one of a process takes longer than
// a JACK period to symbolise: the client misses its cycle and JACK drops what
// it sent in it, the message itself. So the copy in is hidden from
// ThreadSanitizer, and the copy out finds nothing to race with. Without
// ThreadSanitizer this is a plain sendMessage.
#pragma once

#include <cstddef>

#include <rtmidi/RtMidi.h>

#if defined(__SANITIZE_THREAD__)
#define KORVANE_SEND_UNWATCHED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVANE_SEND_UNWATCHED 1
#endif
#endif

#ifdef KORVANE_SEND_UNWATCHED
extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
#endif

namespace korvane::rtmidi_backend {

// May throw what sendMessage throws.
inline void SendMessage(RtMidiOut& out, const unsigned char* message, std::size_t size) {
#ifdef KORVANE_SEND_UNWATCHED
  struct Unwatched {
    Unwatched() {
      AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
      AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
    }
    ~Unwatched() {
      AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
      AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    }
  } unwatched;
#endif
  out.sendMessage(message, size);
}

}  // namespace korvane::rtmidi_backend
