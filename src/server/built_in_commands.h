// The commands below 69 that the server answers itself: the user logon (2), the client
// identification (5), the proxy query (16) and the integrated authentication (35, 36),
// which this server refuses as it has no security package. The logon (0, 7), the logoff
// (1) and the resume (41) belong to the session runner.
#pragma once

#include "server/server_call.h"

namespace zor {

void ExecuteBuiltIn(TServerCall& call);

}  // namespace zor
