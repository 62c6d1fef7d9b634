// The folders of the server areas is shared by client and server and lives in the update layer;
// this header keeps the server's older include path working.
#pragma once

#include "update/release_areas.h"
