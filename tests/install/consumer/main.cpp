#include <oxa_api/TraderApi.h>

#include <cstdio>
#include <cstring>

int main() {
    OXA::API::TraderApi* api =
        OXA::API::TraderApi::CreateTraderApi(7, "./consumer_log/oxa.log", OXA_LOG_LEVEL(3));
    if (api == nullptr) return 1;
    std::printf("version %s\n", api->GetApiVersion());
    return std::strcmp(api->GetApiVersion(), "2.23.1.0") == 0 ? 0 : 2;
}
