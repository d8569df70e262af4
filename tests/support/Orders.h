// Orders as the tests place them: a limit order of the public record with the fields every
// business reads; a test that needs more sets them on the copy.
#pragma once

#include <oxa_api/OXAApiStruct.h>

#include <cstdint>
#include <cstring>

namespace oxa_test {

inline OrderInsertInfo LimitOrder(const char* ticker, int32_t market, double price, int64_t quantity,
                                  uint8_t side = 1) {
    OrderInsertInfo order{};
    std::strncpy(order.ticker, ticker, sizeof order.ticker - 1);
    order.market = market;
    order.price = price;
    order.quantity = quantity;
    order.price_type = 1;
    order.side = side;
    return order;
}

}  // namespace oxa_test
