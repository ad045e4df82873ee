// A stored Send Later value of any shape is read or refused; what is read writes back
// to a value that reads the same.
#include "sendlater/SendLater.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string value(reinterpret_cast<const char*>(data), size);
    ScheduledMessage message;
    if (ParseScheduledValue(value, message) != ScheduledParse::Ok)
        return 0;
    ScheduledMessage again;
    if (ParseScheduledValue(FormatScheduledValue(message), again) != ScheduledParse::Ok ||
        !(again == message))
        std::abort();
    return 0;
}
