// The registration helper: Android hands its device id over a Hyper-V socket, and Windows offers
// the Google Play registration of this device: it copies the id to the clipboard and opens
// Google's page for uncertified devices in the user's browser.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>

namespace Pd::Host
{

// Process-wide state of the host. The lock guards both ids and is held only while one is copied,
// assigned or compared, never across a call out.
inline std::mutex RegistrationLock;
inline std::wstring WaitingDeviceId; // last id Android handed over since the host started
inline std::wstring OfferedDeviceId; // id for which the tray last showed its offer
// The user asked for the registration and it is not done yet: set by the host loop (and by a
// page that could not be opened), taken with one exchange when Android hands over an id.
inline std::atomic<bool> RegistrationAsked{false};

// FNV-1a 64-bit over the low byte of each UTF-16 unit of the id.
std::uint64_t RegistrationIdHash(std::wstring_view id);

// The registration thread's body: serves the vsock service in a multithreaded COM apartment it
// enters itself, until stop is requested.
void RunRegistration(std::stop_token stop);

// Serves one connection until it ends or a message is malformed.
void HandleRegistrationClient(SOCKET socket);

enum class RegistrationPage
{
    NoDeviceId, // Android has not handed over an id yet: nothing was done
    Opened,     // the page was opened and the id is recorded as registered from Windows
    NotOpened,  // the page could not be opened: logged, and the request stays pending
};

// Copies the waiting id to the clipboard (owned by the owner window, or by a window of its own)
// and opens the registration page; once it is open, GooglePlayIdCopied says whether the id was
// copied.
RegistrationPage TryOpenRegistrationPage(HWND owner);

// The same for callers that only need to know whether an id was waiting: false only when none was.
bool OpenRegistrationPage(HWND owner);

// What the host loop does on its Register event, on its main thread: opens the page in a
// single-threaded COM apartment, or, without an id yet, remembers the request for the id's arrival.
void HandleRegisterSignal();

} // namespace Pd::Host
