// The plain form of a file's data stream is shared by client and server and lives in the update layer;
// this header keeps the server's older include path working.
#pragma once

#include "update/plain_data_stream.h"
