// Everything the shared object code (host/common) needs of this driver.
#pragma once

#include "../common/objects.h"
#include "impl.h"
#include "menu_impl.h"
