// The library's own error codes, one name each. Their texts stand beside these names in the
// table of ErrorMsg.cpp (GetErrorMsg); codes the gateway, the servers or the exchange send
// are passed on as they come and have no name here.
#pragma once

namespace OXA {
namespace API {

enum ApiErrorCode : int {
    // facade, gateway login and the back-end base
    kErrAnswerTimeout = 1001,         // gateway login or push registration not answered in time
    kErrNotConnected = 1002,          // the gateway connection is down
    kErrSendFailed = 1003,            // no connection for the node, or the send failed
    kErrSessionNotRegistered = 1004,  // no back-end or no session for the session id
    kErrLogoutTimeout = 1005,         // the gateway logout not answered in time
    kErrSockTypeInconsistent = 1006,  // a socket type other than the first login's
    kErrLoginNotSent = 1008,          // the gateway login could not be sent
    kErrBadParameter = 1009,          // a null or malformed argument
    kErrUdpMultiNode = 1010,          // a second gateway with the UDP socket type
    kErrBusUnavailable = 1011,        // the gateway asks for the bus, and this library has none
    kErrOnCallbackThread = 1012,      // a call that must wait, made on a thread of the library
    kErrBusLaunchFailed = 1013,       // the bus the gateway named could not be joined
    kErrQueryEndedEarly = 1016,       // a query that pages itself ended before its last row
    kErrApiReleased = 1017,           // the API was released while the call waited
    kErrOrderOfOtherSession = 1018,   // the order id named belongs to another session
    kErrOrderIdSpent = 1019,          // the session's 32-bit order sequence is used up

    // back-ends
    kErrNotOffered = 6077,            // operation not offered (spot and option)
    kErrQueryAccountMismatch = 6066,  // a query names another fund account
    kErrLoginRefused = 210003,        // business login, synchronisation or subscription refused
    kErrLoginTimeout = 210004,        // business login, synchronisation or subscription timed out
    kErrSessionInvalid = 211004,      // no session record for the session id
    kErrRepayPrecision = 211006,      // a cash repayment amount finer than a cent
    kErrOverSpeed = 211008,           // over the session's rate limit
    kErrNotOfferedMargin = 230113,    // operation not offered (margin)
};

// Text logged and recorded with kErrNotOffered / kErrNotOfferedMargin.
constexpr const char* kNotOfferedText = "暂不支持该项业务";

}  // namespace API
}  // namespace OXA
