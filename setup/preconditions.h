// Decisions of the entry's preconditions, kept apart so that they can be tested.
#pragma once

// The entry refuses a system drive with fewer whole megabytes free.
const long long MIN_FREE_MB = 300;

// Free-space rule: at least 300 whole megabytes, or a drive whose free space
// cannot be determined (all bits set).
int IsFreeSpaceEnough(unsigned long long ullFreeBytes);
