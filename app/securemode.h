// Installed from the package, the program holds one privilege: listening below port 1024.
// The kernel then runs it in secure mode, and the loader ignores LD_PRELOAD, LD_LIBRARY_PATH
// and the like. Qt, and the GTK, GIO and graphics libraries its plugins bring in, do not:
// they still load code from folders and files the environment names. So that no user can run
// code of their own with the privilege, those names are dropped before Qt starts.
#pragma once

// In secure mode, removes from the environment the variables that name places code is
// loaded from; otherwise does nothing. Call first in main, before any library reads them.
void DropLoadPathsInSecureMode();
