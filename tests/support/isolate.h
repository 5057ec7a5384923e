#pragma once
// Keeps a test process's sessions apart from every other process on the machine.
//
// Each test process moves into its own network namespace (loopback only), so the
// default port range is free and nothing outside can reach it. Where namespaces
// are not available the session port range is moved to a range derived from the
// process id instead, and MERIDAX_NET_TEST_PORT_BASE is set for the programs the
// process starts. Call first thing in main, before any thread starts.
// Returns true when the process has its own namespace.
bool IsolateTestNetwork();
