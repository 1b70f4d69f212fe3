// The guard of the one exchange that may run at a time, shared by the
// driver calls and the facade, and the close of a session ended by another
// thread while an exchange ran.
#pragma once

namespace tarvo {

// Takes the busy flag; false when another exchange holds it.
bool ClaimExchange();
// Gives the flag back, then closes the port if EncerraDriver ended the
// session meanwhile.
void ReleaseExchange();
// Closes the port and stops tracing now, or, when an exchange runs, as soon
// as it ends.
void ClosePortWhenIdle();

// ExecutaComando's work for a caller that holds the flag.
int ExecuteClaimed(int handle, const char* command);
// DefineTimeout's work for a caller that holds the flag.
void DefineTimeoutClaimed(int handle, int iTimeout);

}  // namespace tarvo
