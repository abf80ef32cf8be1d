// libtiff over a C stream that stays the caller's: TIFFClose leaves it open.
#pragma once

#include <tiffio.h>

#include <cstdio>

namespace b58::tools {

TIFF* OpenTiffOnStream(FILE* file, const char* name);

}  // namespace b58::tools
