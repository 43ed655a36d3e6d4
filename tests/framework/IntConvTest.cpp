#include "IntConv.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

TEST(IntConv, acceptedForms_giveTheirValue) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"0", 0},
        {"42", 42},
        {"   42", 42},
        {"+7", 7},
        {"-7", -7},
        {"007", 7},
        {"$10", 16},
        {"x1f", 31},
        {"X1F", 31},
        {"0x10", 16},
        {"0XfF", 255},
        {"  $A", 10},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$FFFFFFFF", -1},
        {"$7FFFFFFF", INT32_MAX},
        {"0x00000000000001", 1},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(StrToInt(text), value) << text;
    }
}

TEST(IntConv, rejectedForms_raiseTheConversionError) {
    const char* cases[] = {"",    " ",   "1 ",         "12a",         "a12",
                           "- 1", "+",   "-",          "$",           "x",
                           "0x",  "$G",  "2147483648", "-2147483649", "$100000000",
                           "1.5", "\t1", "--1",        "-$10",        "99999999999999999999"};
    for (const char* text : cases) {
        EXPECT_FALSE(TryStrToInt(text).has_value()) << '[' << text << ']';
        try {
            StrToInt(text);
            ADD_FAILURE() << "no error for [" << text << ']';
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid integer value");
        }
    }
}

TEST(IntConv, integersWriteAsPlainDecimal) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-15), "-15");
    EXPECT_EQ(IntToStr(65535), "65535");
    EXPECT_EQ(StrToInt(IntToStr(INT32_MIN)), INT32_MIN);
}
