#include "core/bookmark_record.h"

#include <gtest/gtest.h>

namespace bm {
namespace {

TEST(TextConversion, EmptyStaysEmpty) {
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(ToWide(""), L"");
}

}  // namespace
}  // namespace bm
