// TStr next to std::string for the everyday operations, on an 11-byte text (held inside
// std::string's own small-string storage) and a 44-byte text (a heap block on both sides).
//
// Each pair is registered as "TStr/<operation>/<size>" and "std::string/<operation>/<size>";
// scripts/bench matches the two by name. Every timed loop creates and destroys its result,
// so allocation and release are part of each figure on both sides.
#include "bench_support.h"

#include "kyro/util/TStr.h"

#include <codecvt>
#include <cstdio>
#include <cstring>
#include <locale>
#include <string>

using kyro::bench::opaque;

namespace {

struct Texts {
    const char* text;     // constructed, copied, appended to, searched and converted
    const char* other;    // appended to `text`; the same length
    const char* needle;   // occurs once, near the end of `text`
    const char* format;   // two place markers; formatted with first and second, it has
    const char* first;    // the same length as `text`
    const char* second;
};

const Texts kShort = {"hello world", "HELLO WORLD", "rld", "val %1 / %2", "12", "34"};
const Texts kLong = {"The quick brown fox jumps over the lazy dog.",
                     "Pack my box with five dozen liquor jugs now.", "dog",
                     "Value %1 is outside the allowed range %2.", "123", "0-99"};

const Texts& textsFor(std::int64_t size)
{
    return size <= 11 ? kShort : kLong;
}

// The standard-library baseline for the wide conversions: UTF-8 to wchar_t text through
// std::wstring_convert with std::codecvt_utf8<wchar_t>. With a 32-bit wchar_t (Linux) it
// produces UTF-32, the same form TStr::wide() and newWide() produce there. Both are
// deprecated since C++17 but remain the standard library's direct UTF-8 to wchar_t route.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
using WideConverter = std::wstring_convert<std::codecvt_utf8<wchar_t>>;

std::wstring standardWide(WideConverter& converter, const std::string& text)
{
    return converter.from_bytes(text);
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The std::string form of TStr(format).arg(first).arg(second): find each marker, replace it.
std::string standardFormat(const char* format, const char* first, const char* second)
{
    std::string result(format);
    result.replace(result.find("%1"), 2, first);
    result.replace(result.find("%2"), 2, second);
    return result;
}

// ---- construct: from const char*, then destroyed ---------------------------------------

void tstrConstruct(benchmark::State& state)
{
    const char* text = textsFor(state.range(0)).text;
    for (auto _ : state) {
        TStr s(opaque(text));
        benchmark::DoNotOptimize(s);
    }
}

void stdConstruct(benchmark::State& state)
{
    const char* text = textsFor(state.range(0)).text;
    for (auto _ : state) {
        std::string s(opaque(text));
        benchmark::DoNotOptimize(s);
    }
}

// ---- copy: copy-construct, then destroyed ----------------------------------------------

void tstrCopy(benchmark::State& state)
{
    TStr source(textsFor(state.range(0)).text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(source);
        TStr copy(source);
        benchmark::DoNotOptimize(copy);
    }
}

void stdCopy(benchmark::State& state)
{
    std::string source(textsFor(state.range(0)).text);
    for (auto _ : state) {
        benchmark::DoNotOptimize(source);
        std::string copy(source);
        benchmark::DoNotOptimize(copy);
    }
}

// ---- append: a + b into a new string of twice the size ----------------------------------

void tstrAppend(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    TStr a(t.text);
    TStr b(t.other);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        TStr sum = a + b;
        benchmark::DoNotOptimize(sum);
    }
}

void stdAppend(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    std::string a(t.text);
    std::string b(t.other);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        std::string sum = a + b;
        benchmark::DoNotOptimize(sum);
    }
}

// ---- append in place: copy a, then += b ---------------------------------------------------

void tstrAppendInPlace(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    TStr a(t.text);
    TStr b(t.other);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        TStr sum(a);
        sum += b;
        benchmark::DoNotOptimize(sum);
    }
}

void stdAppendInPlace(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    std::string a(t.text);
    std::string b(t.other);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(b);
        std::string sum(a);
        sum += b;
        benchmark::DoNotOptimize(sum);
    }
}

// ---- indexOf / find: a needle near the end ------------------------------------------------

void tstrIndexOf(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    TStr haystack(t.text);
    TStr needle(t.needle);
    for (auto _ : state) {
        benchmark::DoNotOptimize(haystack);
        benchmark::DoNotOptimize(needle);
        long at = haystack.indexOf(needle);
        benchmark::DoNotOptimize(at);
    }
}

void stdIndexOf(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    std::string haystack(t.text);
    std::string needle(t.needle);
    for (auto _ : state) {
        benchmark::DoNotOptimize(haystack);
        benchmark::DoNotOptimize(needle);
        std::size_t at = haystack.find(needle);
        benchmark::DoNotOptimize(at);
    }
}

// ---- arg: a two-marker format filled to the given size --------------------------------------

void tstrArg(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    for (auto _ : state) {
        TStr message = TStr(opaque(t.format)).arg(opaque(t.first)).arg(opaque(t.second));
        benchmark::DoNotOptimize(message);
    }
}

void stdArg(benchmark::State& state)
{
    const Texts& t = textsFor(state.range(0));
    for (auto _ : state) {
        std::string message = standardFormat(opaque(t.format), opaque(t.first), opaque(t.second));
        benchmark::DoNotOptimize(message);
    }
}

// ---- wide: a fresh string each time, converted to wchar_t text ------------------------------

void tstrWide(benchmark::State& state)
{
    const char* text = textsFor(state.range(0)).text;
    for (auto _ : state) {
        TStr s(opaque(text));
        const wchar_t* wide = s.wide();
        benchmark::DoNotOptimize(wide);
    }
}

void tstrNewWide(benchmark::State& state)
{
    const char* text = textsFor(state.range(0)).text;
    for (auto _ : state) {
        wchar_t* wide = TStr(opaque(text)).newWide();
        benchmark::DoNotOptimize(wide);
        TStr::releaseBuffer(wide);
    }
}

// Baseline of both: a fresh std::string holding the text, converted by std::wstring_convert
// (see standardWide) into a std::wstring that is then destroyed. The converter object is
// made once, as a caller converting many strings would.
void stdWide(benchmark::State& state)
{
    const char* text = textsFor(state.range(0)).text;
    WideConverter converter;
    for (auto _ : state) {
        std::string s(opaque(text));
        std::wstring wide = standardWide(converter, s);
        benchmark::DoNotOptimize(wide);
    }
}

}  // namespace

#define KYRO_BENCH_SIZES ->Arg(11)->Arg(44)

BENCHMARK(tstrConstruct)->Name("TStr/construct") KYRO_BENCH_SIZES;
BENCHMARK(stdConstruct)->Name("std::string/construct") KYRO_BENCH_SIZES;
BENCHMARK(tstrCopy)->Name("TStr/copy") KYRO_BENCH_SIZES;
BENCHMARK(stdCopy)->Name("std::string/copy") KYRO_BENCH_SIZES;
BENCHMARK(tstrAppend)->Name("TStr/append") KYRO_BENCH_SIZES;
BENCHMARK(stdAppend)->Name("std::string/append") KYRO_BENCH_SIZES;
BENCHMARK(tstrAppendInPlace)->Name("TStr/append_in_place") KYRO_BENCH_SIZES;
BENCHMARK(stdAppendInPlace)->Name("std::string/append_in_place") KYRO_BENCH_SIZES;
BENCHMARK(tstrIndexOf)->Name("TStr/indexOf") KYRO_BENCH_SIZES;
BENCHMARK(stdIndexOf)->Name("std::string/indexOf") KYRO_BENCH_SIZES;
BENCHMARK(tstrArg)->Name("TStr/arg") KYRO_BENCH_SIZES;
BENCHMARK(stdArg)->Name("std::string/arg") KYRO_BENCH_SIZES;
BENCHMARK(tstrWide)->Name("TStr/wide") KYRO_BENCH_SIZES;
BENCHMARK(tstrNewWide)->Name("TStr/newWide") KYRO_BENCH_SIZES;
BENCHMARK(stdWide)->Name("std::string/wide") KYRO_BENCH_SIZES;

namespace kyro::bench {

namespace {

bool expect(bool condition, const char* what, std::int64_t size)
{
    if (!condition)
        std::fprintf(stderr, "kyro_bench: %s differs between TStr and std::string (%lld bytes)\n",
                     what, static_cast<long long>(size));
    return condition;
}

}  // namespace

bool checkStringPairs()
{
    bool ok = true;
    WideConverter converter;
    for (const std::int64_t size : {std::int64_t{11}, std::int64_t{44}}) {
        const Texts& t = textsFor(size);
        const std::string text(t.text);
        const std::string other(t.other);
        const TStr a(t.text);
        const TStr b(t.other);
        ok &= expect(static_cast<std::int64_t>(text.size()) == size && other.size() == text.size(),
                     "text size", size);
        ok &= expect(TStr(a) == text.c_str() && a.length() == static_cast<int>(text.size()), "construct/copy",
                     size);
        ok &= expect((a + b) == (text + other).c_str(), "append", size);
        TStr inPlace(a);
        inPlace += b;
        ok &= expect(inPlace == (text + other).c_str(), "append in place", size);
        const long at = a.indexOf(TStr(t.needle));
        ok &= expect(at >= 0 && static_cast<std::size_t>(at) == text.find(t.needle) &&
                         static_cast<std::size_t>(at) + 8 >= text.size(),
                     "indexOf (or the needle is not near the end)", size);
        const std::string formatted = standardFormat(t.format, t.first, t.second);
        ok &= expect(static_cast<std::int64_t>(formatted.size()) == size &&
                         TStr(t.format).arg(t.first).arg(t.second) == formatted.c_str(),
                     "arg", size);
        const std::wstring wide = standardWide(converter, text);
        wchar_t* newWide = a.newWide();
        ok &= expect(wide == TStr(t.text).wide() && wide == newWide, "wide", size);
        TStr::releaseBuffer(newWide);
    }
    return ok;
}

}  // namespace kyro::bench
