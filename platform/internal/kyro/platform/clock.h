// The local wall-clock time.
#ifndef KYRO_PLATFORM_CLOCK_H
#define KYRO_PLATFORM_CLOCK_H

namespace kyro::platform {

struct LocalTime {
    int year;          // four digits
    int month;         // 1-12
    int day;           // 1-31
    int hour;          // 0-23
    int minute;
    int second;
    int milliseconds;  // 0-999
};

// GetLocalTime on Windows; the realtime clock in the local time zone on POSIX.
LocalTime localTime();

}  // namespace kyro::platform

#endif
