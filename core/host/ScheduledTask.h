// The Task Scheduler task "Peldra" that starts the background host at the user's logon with
// the highest available rights. The calling thread must have COM initialised.
#pragma once

#include "core/Handles.h"
#include "core/Result.h"

#include <taskschd.h>

#include <string>
#include <string_view>

namespace Pd::Host
{

// The Task Scheduler's root folder on this computer, as the current user.
Pd::Result<Pd::ComPtr<ITaskFolder>> ConnectTaskService();

// True when the root folder holds the task "Peldra"; false also when the Task Scheduler
// cannot be reached.
bool IsTaskRegistered();

// Registers (creates or replaces) or removes the task; removing a missing task succeeds.
// Either way the task of older versions, "Peldra Bluetooth", is deleted first.
Pd::Result<> SetTaskRegistered(bool on);

// Runs the registered task now: how a process without administrator rights starts the host,
// with the rights the task was registered with. Fails when the task is missing.
Pd::Result<> RunTask();

// Writes &, <, > and the double quote as XML entities; everything else, the apostrophe
// included, stays.
std::wstring EscapeXml(std::wstring_view text);

// The task definition for a user (domain\name) and the host executable's path; both are
// escaped here.
std::wstring TaskXml(std::wstring_view user, std::wstring_view hostExePath);

// The current user as "DOMAIN\name"; empty when it cannot be read.
std::wstring CurrentSamUserName();

} // namespace Pd::Host
