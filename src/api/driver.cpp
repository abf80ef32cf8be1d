#include "api/driver.h"

#include <new>

namespace b58 {
namespace {

Driver g_driver;

}  // namespace

Driver& TheDriver() {
    return g_driver;
}

void ResetDriver() {
    g_driver.~Driver();
    new (&g_driver) Driver();
}

}  // namespace b58
