// The background host: one per Windows session, started as "host --background". It verifies the
// installed release, then serves the bridges and keeps them in line with the settings each time
// its Reload event wakes it, until its Stop event ends it.
#pragma once

#include "core/host/RootConsent.h"
#include "host/elevation/Frames.h"
#include "release/verify/ReleaseFiles.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <thread>

namespace Pd::Host
{

// The body of one host thread; it returns when its stop token is triggered.
using ThreadBody = std::function<void(std::stop_token)>;

// Starts the notification-area icon, handing it the Stop event that its last command sets; the
// returned function closes the icon and joins its thread.
using TrayStart = std::function<std::function<void()>(HANDLE stopEvent)>;

// What the host runs. An empty body is a component that is not built: its thread is not started.
struct HostParts
{
    // Checks the installed release; stop is requested when the host is asked to stop.
    std::function<Core::ReleaseState(std::stop_token)> verifyRelease;
    ThreadBody bluetooth;
    ThreadBody hello; // always served while the release is verified
    // The elevation bridge, run with the mode the settings give; restarted when the mode changes.
    std::function<void(std::stop_token, Bio::Elevation::Mode)> elevation;
    // Asks the user, on the main thread, whether the stored root settings, wider than the ones
    // confirmed, may be served; stop is requested when the host is asked to stop. Empty: declined.
    std::function<bool(const RootSettings& confirmed, const RootSettings& stored, std::stop_token)>
        confirmRoot;
    ThreadBody registration; // enters its own COM apartment
    ThreadBody telephony;
    ThreadBody updateNotices;
    TrayStart startTray;
    // Runs on the main thread when the Register event is set: opens the Google Play registration
    // page, or remembers the request until Android hands over the device id.
    std::function<void()> handleRegister;
};

// The parts of this build (see BackgroundHost.cpp for what is not served yet).
HostParts BuiltHostParts();

// An elevated host yields only to another elevated host: a host without administrator rights is
// asked to stop (its Stop event) and the mutex taken once it is gone; when it does not end within
// 10 s the host refuses to start (1, logged).
// Returns 0 when another host runs, the mutex cannot be created, the host was stopped (also during
// the release check) or after a normal stop; 1 when the Stop or Reload event cannot be created or
// one of the host's objects exists under another account's ownership (logged: "another program
// holds Peldra's name"); 4 when the installed release is not verified.
int RunBackground();
int RunBackgroundWith(const HostParts& parts);

// Starts the Bluetooth thread in an empty slot when on; stops, joins and empties a running one
// when off. A slot whose body already returned still counts as running until it is turned off.
void SetBluetoothBridgeRunning(std::jthread& slot, bool on);
void SetBluetoothBridgeRunningWith(std::jthread& slot, bool on, const ThreadBody& body);

// The elevation mode of these root settings.
Bio::Elevation::Mode ElevationModeOf(const RootSettings& settings, bool magiskOffPending);

// What the host keeps of the root settings between passes: the widenings the user declined, not
// asked again for the host's life unless the user turns a root setting on in an elevated Peldra
// (CountedRootChoices changes). No event or per-user value re-arms a prompt: any program of the
// user could set them.
struct RootMemory
{
    DeclinedWidenings declined;
    std::optional<std::uint32_t> choicesSeen; // CountedRootChoices at the last pass
    bool noticeGiven = false;                 // a repeat was logged and shown at the icon
};

// The root settings the host serves: the stored ones when they widen nothing that was confirmed
// (the record keeps only what both allow: a bit another program set while root is off was never
// asked for), or the user confirms them through `confirm` (they are then recorded as confirmed);
// else the confirmed ones, written back over the stored ones. A repeat of a declined widening is
// written back without asking, and said once in the log and at the icon; a new count of the
// user's choices (`choices`, CountedRootChoices) forgets what was declined.
RootSettings SettleRootSettings(
    bool elevated, std::uint32_t choices, RootMemory& memory,
    const std::function<bool(const RootSettings& confirmed, const RootSettings& stored)>& confirm);

} // namespace Pd::Host
