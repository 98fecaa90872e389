#pragma once

namespace avdtest {

// Makes the n-th heap allocation from now on (1-based) fail with
// std::bad_alloc, counting operator new and the support library's blocks.
// Only in test binaries that compile alloc_faults.cpp in.
void failAllocationAt(long n);
void disarmAllocationFailure();
bool allocationFailureFired();
// Heap allocations counted so far (the same ones failAllocationAt counts).
long allocationCount();

}  // namespace avdtest
