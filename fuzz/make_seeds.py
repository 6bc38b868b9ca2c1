#!/usr/bin/env python3
"""Writes the hand-made seed inputs under fuzz/corpus/<target>/.

The seeds are committed; run this again only after changing it. Files that the fuzzers
found and that were added to the corpus by hand (crash-*, regression-*) are left alone.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Encoding numbers of the text library.
ASCII, UTF8, UTF16, UTF16BE, UTF16LE, UTF32 = range(6)


def utf16le(text):
    return text.encode("utf-16-le")


def utf16be(text):
    return text.encode("utf-16-be")


def utf32(*code_points):
    return b"".join(struct.pack("<I", c) for c in code_points)


def text_encodings():
    smile = "\U0001F600"
    return {
        "utf8_multibyte": bytes([UTF8]) + "Grüße, 日本語 — €5 ".encode() + smile.encode(),
        "utf8_truncated": bytes([UTF8]) + b"A\xE2\x82 x\xF0\x9F\x98",
        "utf8_overlong": bytes([UTF8]) + b"x\xC1\x81y\xE0\x81\x81\xF8\x88\x80\x80\x80\xFC\x84\x80\x80\x80\x80z\xC0\x80tail",
        "utf8_stray_continuation": bytes([UTF8]) + b"\xA9z\xBF\x80\xFE\xFF",
        "utf8_encoded_surrogate": bytes([UTF8]) + b"A\xED\xA0\x80B\xED\xBF\xBF",
        "utf8_embedded_nul": bytes([UTF8]) + b"ab\x00cd\xC3",
        "utf8_bom": bytes([UTF8]) + b"\xEF\xBB\xBFtext \xC3\xA9",
        "utf16_bom_le": bytes([UTF16]) + b"\xFF\xFE" + utf16le("Aé€ ok"),
        "utf16_bom_be": bytes([UTF16]) + b"\xFE\xFF" + utf16be("Aé€ ok"),
        "utf16_no_bom_later_mark": bytes([UTF16]) + utf16le("A") + b"\xFF\xFE" + utf16le("B"),
        "utf16_bom_only": bytes([UTF16, 0xFF, 0xFE]),
        "utf16le_lone_high_surrogate": bytes([UTF16LE]) + b"\x41\x00\x00\xD8\x42\x00",
        "utf16be_lone_low_surrogate": bytes([UTF16BE]) + b"\x00\x41\xDC\x00\x00\x42",
        "utf16le_surrogate_pair": bytes([UTF16LE]) + utf16le("x" + smile + "y"),
        "utf16le_odd_length": bytes([UTF16LE]) + b"\x41\x00\x42",
        "utf32_above_max": bytes([UTF32]) + utf32(0x41, 0x10FFFF, 0x110000, 0x1FFFFF, 0x200000,
                                                  0x7FFFFFFF, 0xFFFFFFFF, 0x1F600, 0xE9),
        "utf32_surrogate_and_tail": bytes([UTF32]) + utf32(0x41, 0xD800, 0x42) + b"\x43\x00",
        "ascii_high_bytes": bytes([ASCII]) + b"a\x80\xFFz\x00after",
        "invalid_encoding_low": b"\xFEabc",
        "invalid_encoding_high": b"\xFFabc",
        "empty_utf8": bytes([UTF8]),
    }


PARAMETERS = 12
SUBJECT_NULL, OTHER_NULL, ALIAS_FIRST, ALIAS_SECOND = 0x80, 0x40, 0x20, 0x10
(ARG, TO_INT, TO_DOUBLE, NEXT_TOKEN, CUT_LAST, INDEX_OF, REPLACE_ALL, TRIMMED, CASE,
 HASH_KEY, CONCATENATION) = range(11)

FILLS = [" ", "0", "*", "\0", "\xE9", "-", "%", "1"]
BASES = [10, 16, 2, 36, 8, 0, 1, 37]
KINDS = {"tstr": 0, "cstr": 1, "long": 2, "int": 3}


def op(operation, params=(), fields=()):
    p = list(params) + [0] * (PARAMETERS - len(params))
    data = bytes([operation]) + bytes(p)
    if fields:
        data += b"\x00".join(f.encode() if isinstance(f, str) else f for f in fields)
    return data


def arg_call(kind, width=0, fill=" ", base=10):
    """The two parameter bytes of one arg() call."""
    magnitude = 63 if abs(width) == 64 else abs(width)
    a = (magnitude << 2) | KINDS[kind]
    b = (1 if width < 0 else 0) | (FILLS.index(fill) << 1) | (BASES.index(base) << 4)
    return [a, b]


def arg_seed(fmt, calls, values, flags=0):
    params = [flags | (len(calls) - 1)]
    for call in calls:
        params += call
    return op(ARG, params, [fmt] + list(values))


def tstr_operations():
    return {
        "arg_two_markers": arg_seed("%1 of %2", [arg_call("tstr"), arg_call("cstr")], ["3", "7"]),
        "arg_padding_numbers": arg_seed("[%1][%2][%3]",
                                        [arg_call("int", 4, "0"), arg_call("long", -6, "*", 16),
                                         arg_call("int", 40, "\xE9", 2)],
                                        ["-7", "255", "-2147483648"]),
        "arg_markers_in_value": arg_seed("%1%2 %1", [arg_call("cstr"), arg_call("tstr", 3, "%")],
                                         ["%2", "x"]),
        "arg_percent_rules": arg_seed("100% %%1 %%%1 %0 %a%1 %9 %", [arg_call("cstr", -64, "1")], ["v"]),
        "arg_utf8_width": arg_seed("\u00e9%1\u20ac", [arg_call("tstr", 5, "\0")], ["\u00fc"]),
        "arg_no_marker": arg_seed("no markers here", [arg_call("long", 64)], ["0x7fffffff"]),
        "arg_wide_values": arg_seed("%3%2%1", [arg_call("long", 0, " ", 36), arg_call("int", -3, "-", 0),
                                               arg_call("long", 2, "0", 37), arg_call("cstr")],
                                    ["4294967296", "-0x80000000", "9223372036854775807"]),
        "arg_null_format": arg_seed("%1", [arg_call("cstr", 3)], [], SUBJECT_NULL),
        "toint_blanks_sign": op(TO_INT, [0, 8, 37], ["\t\n-17\n "]),
        "toint_limits": op(TO_INT, [0, 10, 10], ["-2147483648"]),
        "toint_overflow": op(TO_INT, [0, 0xF6, 3], ["2147483648"]),
        "toint_base36": op(TO_INT, [0, 36, 35], ["ZIK0ZJ"]),
        "toint_long_digits": op(TO_INT, [0, 2, 16], ["000000000000000000000000000000000000001"]),
        "toint_rejects": op(TO_INT, [0, 16, 16], ["- 1"]),
        "toint_prefix_cr": op(TO_INT, [0, 16, 0], ["0x1F\r"]),
        "todouble_plain": op(TO_DOUBLE, [0, 2, 17], ["-2e3"]),
        "todouble_trailing_blank": op(TO_DOUBLE, [0, 0, 99], ["1.5 "]),
        "todouble_special": op(TO_DOUBLE, [0, 1, 0xFF], ["-inf"]),
        "todouble_hex_subnormal": op(TO_DOUBLE, [0, 3, 40], ["0x1p-1074"]),
        "todouble_huge": op(TO_DOUBLE, [0, 0, 99], ["1e308"]),
        "nexttoken_list": op(NEXT_TOKEN, [], ["cs_CZ;;de_DE;", ";"]),
        "nexttoken_sets": op(NEXT_TOKEN, [], [";a, b;;c ,", ", ;"]),
        "nexttoken_self": op(NEXT_TOKEN, [ALIAS_FIRST], ["a;b;c"]),
        "nexttoken_no_delimiters": op(NEXT_TOKEN, [OTHER_NULL], ["abc"]),
        "cutlast_path": op(CUT_LAST, [], ["C:\\a\\b.txt", "\\"]),
        "cutlast_overlap": op(CUT_LAST, [], ["aXaXa::", "aXa"]),
        "cutlast_self": op(CUT_LAST, [ALIAS_FIRST], ["self"]),
        "indexof_utf8": op(INDEX_OF, [0, 3, 1, ord("a")], ["\u00e9\u20aca\u00e9a", "A"]),
        "indexof_case": op(INDEX_OF, [ALIAS_FIRST, 0xFF, 7, ord("B")], ["abcbABCB", "cB"]),
        "replaceall_grow": op(REPLACE_ALL, [], ["abab", "ab", "abab"]),
        "replaceall_overlap": op(REPLACE_ALL, [], ["aaaa.b.", "aa", ""]),
        "replaceall_self": op(REPLACE_ALL, [ALIAS_SECOND], ["x.y", "."]),
        "trimmed_mixed": op(TRIMMED, [], ["\t\r\n\x0b\x0c x y \n"]),
        "trimmed_only_blank": op(TRIMMED, [], [" \t "]),
        "case_mixed": op(CASE, [], ["aZ\u00e9-1 Hello"]),
        "hashkey_short_utf8": op(HASH_KEY, [], ["\u00e9"]),
        "hashkey_long": op(HASH_KEY, [], ["ABCDEFGH"]),
        "concat_self": op(CONCATENATION, [ALIAS_FIRST, 2, ord("!"), 3], ["ab\u00e9", "cd"]),
        "concat_null": op(CONCATENATION, [SUBJECT_NULL, 0, 0xC3, 0], ["", "x"]),
    }


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("fuzz_text_encodings", text_encodings())
    write("fuzz_tstr_operations", tstr_operations())
