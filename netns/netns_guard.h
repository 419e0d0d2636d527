#pragma once
// Guard for every test that opens a KOVA socket: such a test may only run
// inside a private network namespace made by scripts/netns-run or scripts/lab.

#include <string>

namespace veltrona::test {

// Empty when this process runs in a private network namespace of the project's
// own making (not the machine's namespace, entered through the project's
// scripts, holding only loopback and "vt" lab interfaces); otherwise the reason.
std::string privateNetnsProblem();

// Prints the reason and exits with status 2 when privateNetnsProblem() is not empty.
void requirePrivateNetns();

} // namespace veltrona::test
