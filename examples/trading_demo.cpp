// A small trading application: creates the API object and reports what it set up.
#include <oxa_api/TraderApi.h>

#include <cstdio>

int main(int argc, char** argv) {
    const char* log_path = argc > 1 ? argv[1] : "./oxa_api_log/oxa.log";
    OXA::API::TraderApi* api = OXA::API::TraderApi::CreateTraderApi(1, log_path, OXA_LOG_LEVEL(3));
    if (api == nullptr) {
        std::fprintf(stderr, "CreateTraderApi failed\n");
        return 1;
    }
    std::printf("oxa_api version %s\n", api->GetApiVersion());
    std::printf("trading day %s\n", api->GetTradingDay());
    std::printf("log file %s\n", log_path);
    return 0;
}
