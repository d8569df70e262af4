// Puts the process-wide state that logged-in sessions leave behind back as a fresh process has
// it, for fixtures whose tests must not depend on the tests run before them: no session in any
// session table, no fund account under any node, every speed-control entry unlimited with no
// window open (a new login sets its own limits; a limit of 0 would otherwise keep an earlier
// test's), and no order-id counter of the API object set (a login never moves one back).
//
// Only between tests: no connection, request or handler may be running.
#pragma once

namespace oxa_test {

void ResetSessionState();

}  // namespace oxa_test
