#include "api/driver.h"

namespace b58 {

Driver& TheDriver() {
    return g_state;
}

}  // namespace b58
