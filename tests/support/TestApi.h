// The API object for tests: the first factory call of the process writes its log into a
// temporary folder (removed at exit), so no test leaves ./oxa_api_log behind.
#pragma once

#include <string>

#include "api/TraderImpl.h"

namespace oxa_test {

// A fresh folder below the system's temporary folder, one per process.
const std::string& TestLogDir();
// TestLogDir() + "/oxa.log".
std::string TestLogPath();
// CreateTraderApi(client_id, TestLogPath(), level); never null.
OXA::API::TraderImpl* TestApi(unsigned char client_id = 1, OXA_LOG_LEVEL level = OXA_LOG_LEVEL_INFO);
// The API object once TestApi made it, else null (without a factory call, which would set the
// process's client id).
OXA::API::TraderImpl* ExistingTestApi();

}  // namespace oxa_test
