// Export macro for the classes and functions that kyroint makes available to hosts.
// This is the one header above the OS backends that branches on the platform.
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

#endif
