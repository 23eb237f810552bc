#include "install_lock.h"

// Not yet taken: phases run without ordering until the lock is built.
InstallLock::InstallLock() {}

InstallLock::~InstallLock() {}
