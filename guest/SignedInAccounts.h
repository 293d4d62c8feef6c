// Whether anyone but this process's account is signed in to the PC (in any session, connected or
// not): while nobody else is, every running Android VM is this user's.
#pragma once

namespace Pd::Guest
{

// True also when the sessions cannot be listed: then nobody can tell.
bool AnotherAccountSignedIn();

} // namespace Pd::Guest
