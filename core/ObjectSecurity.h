// Security of the named objects an elevated host or window creates and the same user's
// unelevated processes must still open: the host's mutex and its events, and the window's
// Changed event. Without it they would carry the creator's default security (its own account,
// high integrity), and an unelevated caller would be refused.
#pragma once

#include "core/Handles.h"

#include <windows.h>

namespace Pd::Core
{

// SYSTEM and Administrators have full access; the interactive user may wait on the object and set
// it (SYNCHRONIZE and EVENT_MODIFY_STATE); the medium-integrity label lets an unelevated caller
// of that user do so.
inline constexpr const wchar_t* SessionObjectSddl =
    L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100002;;;IU)S:(ML;;NW;;;ME)";

// The security attributes built from SessionObjectSddl, not inheritable. Attributes() is null when
// the descriptor cannot be built: the object then gets the default security.
class SessionObjectSecurity
{
public:
    SessionObjectSecurity();
    SessionObjectSecurity(const SessionObjectSecurity&) = delete;
    SessionObjectSecurity& operator=(const SessionObjectSecurity&) = delete;

    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ ? &attributes_ : nullptr; }

private:
    UniqueLocal descriptor_;
    SECURITY_ATTRIBUTES attributes_{};
};

// Named events and mutexes created with that security.
UniqueHandle CreateSessionEvent(const wchar_t* name, bool manualReset);
UniqueHandle CreateSessionMutex(const wchar_t* name, bool initiallyOwned);

} // namespace Pd::Core
