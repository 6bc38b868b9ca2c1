// Kyro::VendorID: the identifier of the component that reports a record. Identifier 1 is
// this library: its own errors and performance markers carry it.
#ifndef KYRO_DIAGNOSTICS_KYROVENDORID_H
#define KYRO_DIAGNOSTICS_KYROVENDORID_H

#include <cstdint>

namespace Kyro {

// Debug and performance records show an identifier by its display name (in brackets
// here); 6 is not given out, and it and every value outside 1 to 10 show as "None".
enum VendorID : std::int32_t {
    kVendorNone = 0,
    kVendorKyroInt = 1,    // "KyroInt": this library
    kVendorVex = 2,        // "Vex": the companion process
    kVendorHost = 3,       // "Host": the application that loads the library
    kVendorSetup = 4,      // "Setup"
    kVendorUpdate = 5,     // "Update"
    kVendorReserved = 6,   // "None"
    kVendorLicense = 7,    // "License"
    kVendorRender = 8,     // "Render"
    kVendorNetwork = 9,    // "Network"
    kVendorPlugin = 10     // "Plugin"
};

}  // namespace Kyro

#endif
