// Forced include for GoogleTest built with mingw's win32 thread model, whose
// C++ library has no std::mutex: GoogleTest's one use of it, Notification,
// is supplied here over a Win32 event instead.
#ifndef VRD_GTEST_WIN32_THREADS_H
#define VRD_GTEST_WIN32_THREADS_H
#ifdef __cplusplus

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Notification() { CloseHandle(event_); }
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { SetEvent(event_); }
  void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

 private:
  HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif
#endif
