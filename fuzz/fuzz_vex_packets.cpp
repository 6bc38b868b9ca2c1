// Dictionaries and packets from arbitrary wire text. The first byte picks the reader:
// even: VexDictionary::unmarshal; odd: VexPipePacket::unmarshal. Property checked: once a
// text has been read and marshalled, reading and marshalling that again changes nothing
// (checked where no key holds a ".", whose meaning depends on the order of setting).
#include "fuzz_check.h"

#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexPipePacket.h"

#include <cstddef>
#include <cstdint>

namespace {

bool hasDottedKey(const VexDictionary& dictionary)
{
    const TList<TStr> keys = dictionary.keys();
    for (TList<TStr>::Iterator key = keys.first(); !key.atEnd(); key.advance()) {
        if (key.current().indexOf('.') >= 0)
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    kyro_fuzz::AllocationBalance balance;
    const TStr text(data + 1, static_cast<int>(size - 1), 1);
    if (data[0] % 2 == 0) {
        VexDictionary* first = VexDictionary::unmarshal(text);
        const TStr once = first->marshal();
        VexDictionary* second = VexDictionary::unmarshal(once);
        const TStr twice = second->marshal();
        VexDictionary* third = VexDictionary::unmarshal(twice);
        if (!hasDottedKey(*first) && !hasDottedKey(*second))
            FUZZ_CHECK(third->marshal() == twice);
        (void)first->stringValues();
        first->release();
        second->release();
        third->release();
    } else {
        VexPipePacket first;
        first.unmarshal(text);
        const TStr once = first.marshal(false);
        VexPipePacket second;
        second.unmarshal(once);
        const TStr twice = second.marshal(false);
        VexPipePacket third;
        third.unmarshal(twice);
        FUZZ_CHECK(third.sessionNumber() == second.sessionNumber());
        FUZZ_CHECK(third.fullName() == second.fullName() || second.fullName().indexOf(';') >= 0);
        if (!hasDottedKey(first.payload()) && !hasDottedKey(second.payload()) && second.fullName().indexOf(';') < 0)
            FUZZ_CHECK(third.marshal(false) == twice);
    }
    return 0;
}
