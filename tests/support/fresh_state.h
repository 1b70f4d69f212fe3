// Puts the library's process-wide state back as it is at load: DriverState
// (port closed), the trace and the facade. Tests on the simulated line reset
// it too, with sim::Reset(), after this.
#pragma once

namespace tarvo::test {

void FreshState();

}  // namespace tarvo::test
