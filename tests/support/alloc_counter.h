// Counts every operator new of the test program that links this file
// (the library itself is also checked to import no allocation function).
#pragma once

namespace tarvo::test {

long Allocations();

}  // namespace tarvo::test
