// Loopback port helpers for the benchmarks, which start their peers on
// free ports of their own.
#pragma once

// A port nothing listens on at the moment of the call.
int FreePort();

// True when something accepts connections on 127.0.0.1:Port.
bool PortOpen(int Port);

// Waits up to ten seconds for PortOpen.
bool WaitForPort(int Port);
