// TEMPORARY: placeholders until the modules land; each owner deletes its part.
#include "uninstall_lock.h"
#include "cipher.h"

