// Security of the named objects an elevated host or window creates and the same user's
// unelevated processes must still open: the host's mutex and its events, the Windows Hello
// bridge's mutex and the window's Changed event. Without it they would carry the creator's
// default security (its own account, high integrity), and an unelevated caller would be refused.
// A name is also a claim: an object that already exists under one of these names is used only
// when its owner is one Peldra trusts, never when another account made it first.
#pragma once

#include "core/Handles.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace Pd::Core
{

// SYSTEM and Administrators have full access; the user may wait on the object and set it
// (SYNCHRONIZE and EVENT_MODIFY_STATE); the medium-integrity label lets an unelevated process of
// that user do so. Nobody else is let in. The owner is the Administrators group when the creator
// is elevated (so that the user's unelevated processes cannot change the access list), else the
// user.
std::wstring SessionObjectSddl(std::wstring_view userSid, bool elevated);

// The security attributes built from SessionObjectSddl for this process, not inheritable. An
// elevation that cannot be told counts as elevated: an unelevated creator then fails to make the
// object (it may not name the Administrators as owner) instead of leaving its access list open.
// Attributes() is null when the descriptor cannot be built: the object then gets the default
// security.
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

// Whether a SID may own one of Peldra's named objects: SYSTEM, the Administrators, or `user`
// when it is not null. A missing owner is not trusted.
bool IsTrustedOwner(PSID owner, PSID user);

// The owner of an existing object when it is not trusted (SYSTEM, the Administrators and, when
// userMayOwn, this process's user are): its AccountText, or "unknown" when it cannot be read. None
// when the owner is trusted. The handle needs READ_CONTROL.
std::optional<std::wstring> ForeignOwner(HANDLE object, bool userMayOwn);

// An account as an administrator can act on it: "DOMAIN\name (S-1-...)", or only the SID text
// when Windows knows no name for it; "unknown" for a SID that cannot be written.
std::wstring AccountText(PSID sid);

// Named events and mutexes created with the session security. When the object existed already,
// the last error is ERROR_ALREADY_EXISTS; when it existed with an owner other than SYSTEM, the
// Administrators or this user, no handle is returned, the last error is ERROR_INVALID_OWNER and
// foreignOwner (when given) receives ForeignOwner's text.
UniqueHandle CreateSessionEvent(const wchar_t* name, bool manualReset, std::wstring* foreignOwner = nullptr);
UniqueHandle CreateSessionMutex(const wchar_t* name, bool initiallyOwned,
                                std::wstring* foreignOwner = nullptr);

// Sets a named event when it exists: opened for modifying its state, set and closed. True when
// the event was set.
bool SignalNamedEvent(const wchar_t* name);

} // namespace Pd::Core
