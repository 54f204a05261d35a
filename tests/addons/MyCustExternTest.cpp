// The common add-on root: instance identifiers and their stored record.
#include <gtest/gtest.h>

#include "MyCustExtern.h"
#include "MyValueStream.h"

TEST(CustExtern, OwnGuidAndRecordOfOneString) {
    TCustomExtern a, b;
    EXPECT_EQ(a.ID.size(), 38u);
    EXPECT_NE(a.ID, b.ID);
    a.ID = "{ABC}";
    std::vector<uint8_t> bytes;
    TValueWriter w(bytes);
    a.WriteData(w);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x06, 5, '{', 'A', 'B', 'C', '}'}));
    TValueReader r(bytes.data(), bytes.size());
    b.ReadData(r);
    EXPECT_EQ(b.ID, "{ABC}");
    EXPECT_TRUE(r.AtEnd());
}
