// Checked as if it were a device-layer file by the layer check's self-test: it must be refused.
#pragma once

#include "api/exports.h"
#include "device/command_set.h"
