// The names this machine answers to on the local network, for the web remote's Host check: its
// host name and the fully qualified name the system reports for it. Looking the latter up may
// ask a DNS server, so it is done once, on a thread of its own, and the UI thread never waits
// for it: until it is known only the host name is given.
#pragma once

#include <QString>

struct HostNames {
    QString machine;   // the host name, in lower case
    QString canonical; // the fully qualified name, in lower case; empty while unknown or none
};

// Starts the lookup on its first call; safe to call from any thread.
HostNames LocalHostNames();
