// The open scanner as the device routines reach it: its handle, the request code its commands
// carry (the device kind), the command and reply buffers and the image data reader. A link
// owns none of them; whoever holds the scanner builds one for the routines it calls.
#pragma once

#include <cstdint>

#include "device/command_channel.h"
#include "device/image_reader.h"
#include "platform/win32.h"

namespace b58 {

struct ScannerLink {
    HANDLE handle = INVALID_HANDLE_VALUE;
    int32_t kind = 0;
    CommandChannel& channel;
    ImageDataReader& reader;
};

}  // namespace b58
