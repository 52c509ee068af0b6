#include "preconditions.h"

int IsFreeSpaceEnough(unsigned long long ullFreeBytes)
{
    if (ullFreeBytes == ~0ULL)
        return 1;
    // Whole megabytes, truncated: 299.99 MB is still too little.
    return (long long)ullFreeBytes / 1048576 >= MIN_FREE_MB;
}
