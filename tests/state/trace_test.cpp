#include <gtest/gtest.h>

#include "state/trace.h"

namespace b58 {
namespace {

TEST(Trace, Placeholder) { ResetTraceIndent(); EXPECT_EQ(TraceIndentDepth(), 0u); }

}  // namespace
}  // namespace b58
