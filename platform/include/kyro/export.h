// Export macro for the classes and functions that kyroint makes available to hosts.
// This is the one header above the OS backends that branches on the platform.
//
// KYROINT_BUILDING: the library's own pieces, compiled for kyroint (exported).
// KYROINT_STATIC: an in-tree program that links those pieces in (kyroint_internal):
//                 nothing is imported or exported.
// Neither: a host, which imports from kyroint.dll.
#ifndef KYRO_EXPORT_H
#define KYRO_EXPORT_H

#if defined(_WIN32)
#  if defined(KYROINT_STATIC)
#    define KYRO_EXPORT
#  elif defined(KYROINT_BUILDING)
#    define KYRO_EXPORT __declspec(dllexport)
#  else
#    define KYRO_EXPORT __declspec(dllimport)
#  endif
#else
#  define KYRO_EXPORT __attribute__((visibility("default")))
#endif

#if defined(_WIN32) && defined(__GNUC__) && defined(KYROINT_BUILDING) && !defined(KYROINT_STATIC)
// MinGW GCC exports the type information of every polymorphic class defined after the
// first polymorphic class of a translation unit when that first one is exported (TStr,
// say), and so internal classes would leave kyroint.dll. A first class that is not
// exported avoids it; this one is that class in every file that sees an exported one.
namespace {
struct KyroFirstPolymorphicClass {
    virtual ~KyroFirstPolymorphicClass() = default;
};
}  // namespace
#endif

#endif
