// Decisions of the entry's preconditions, kept apart so that they can be tested.
#pragma once

// Free-space rule: at least 300 whole megabytes, or a drive whose free space
// cannot be determined (all bits set).
int IsFreeSpaceEnough(unsigned long long ullFreeBytes);
