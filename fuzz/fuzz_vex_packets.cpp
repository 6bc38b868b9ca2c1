// Dictionaries (first byte even) and packets (odd) from arbitrary wire text. Checked: once
// a text has been read and marshalled, reading and marshalling that again changes nothing
// (where no key holds a ".", whose meaning depends on the order of setting).
#include "fuzz_check.h"

#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexPipePacket.h"

#include <cstddef>
#include <cstdint>

static bool hasDottedKey(const VexDictionary& dictionary)
{
    const TList<TStr> keys = dictionary.keys();
    for (TList<TStr>::Iterator key = keys.first(); !key.atEnd(); key.advance()) {
        if (key.current().indexOf('.') >= 0)
            return true;
    }
    return false;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const kyro_fuzz::AllocationBalance balance;
    const TStr text(data + 1, static_cast<int>(size - 1), 1);
    if (data[0] % 2 == 0) {
        VexDictionary* first = VexDictionary::unmarshal(text);
        VexDictionary* second = VexDictionary::unmarshal(first->marshal());
        const TStr twice = second->marshal();
        VexDictionary* third = VexDictionary::unmarshal(twice);
        FUZZ_CHECK(hasDottedKey(*first) || hasDottedKey(*second) || third->marshal() == twice);
        (void)first->stringValues();
        first->release();
        second->release();
        third->release();
        return 0;
    }
    VexPipePacket first, second, third;
    first.unmarshal(text);
    second.unmarshal(first.marshal(false));
    const TStr twice = second.marshal(false);
    third.unmarshal(twice);
    const bool semicolon = second.fullName().indexOf(';') >= 0;
    FUZZ_CHECK(third.sessionNumber() == second.sessionNumber() && (semicolon || third.fullName() == second.fullName()));
    FUZZ_CHECK(hasDottedKey(first.payload()) || hasDottedKey(second.payload()) || semicolon ||
               third.marshal(false) == twice);
    return 0;
}
