// Integer conversion: never crashes, accepts exactly what it can write back, and agrees with a
// straightforward reference for decimal text.
#include "Exceptions.h"
#include "IntConv.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto value = TryStrToInt(text);
    try {
        const std::int32_t thrown = StrToInt(text);
        if (!value || *value != thrown)
            std::abort();
    } catch (const EConvertError& e) {
        if (value || e.Message() != InvalidIntegerMessage(text))
            std::abort();
    }
    if (value) {
        // What we write back reads back the same.
        const auto again = TryStrToInt(IntToStr(*value));
        if (!again || *again != *value)
            std::abort();
    }
    return 0;
}
