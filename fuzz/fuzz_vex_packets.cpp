// Packets, their payload dictionaries included, from arbitrary wire text. Checked: once a
// text has been read and marshalled, reading and marshalling that again changes nothing
// (where no key holds a ".", whose meaning depends on the order of setting).
#include "fuzz_check.h"

#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexPipePacket.h"

static bool hasDottedKey(const VexDictionary& dictionary)
{
    bool dotted = false;
    const TList<TStr> keys = dictionary.keys();
    for (TList<TStr>::Iterator key = keys.first(); !key.atEnd(); key.advance())
        dotted = dotted || key.current().indexOf('.') >= 0;
    return dotted;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    VexPipePacket first, second, third;
    first.unmarshal(TStr(data + 1, static_cast<int>(size - 1), 1));
    second.unmarshal(first.marshal(false));
    third.unmarshal(second.marshal(false));
    const bool semicolon = second.fullName().indexOf(';') >= 0;
    FUZZ_CHECK(third.sessionNumber() == second.sessionNumber() && (semicolon || third.fullName() == second.fullName()));
    FUZZ_CHECK(hasDottedKey(first.payload()) || hasDottedKey(second.payload()) || semicolon ||
               third.marshal(false) == second.marshal(false));
    return 0;
}
