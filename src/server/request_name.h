// The check of a file name from a request is shared by client and server and lives in the update layer;
// this header keeps the server's older include path working.
#pragma once

#include "update/request_name.h"
