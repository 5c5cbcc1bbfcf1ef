#pragma once
// The library's exported surface, shared by the library and the program.
#include "brindlex/api.h"
#include "brindlex/flash_api.h"
#include "brindlex/flash_status.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/target_info.h"
#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/usb_pipe.h"
