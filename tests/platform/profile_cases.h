// How GetPrivateProfileIntA reads an INI file, as the platform's own reader does it. The
// same table runs against our layer here and against the system's function on Windows, so
// the two cannot drift apart. Every case reads with the default kProfileDefault.
#pragma once

namespace b58::testing {

inline constexpr int kProfileDefault = 777;

// A value's text (the file holds "[ZTK]" and "KEY=<text>") and the number read from it.
struct ProfileValueCase {
    const char* text;
    int expected;
};

inline constexpr ProfileValueCase kProfileValueCases[] = {
    {"  42", 42},
    {"12abc", 12},
    {"-5", -5},
    {"+7", 7},
    {"0x10", 16},
    {"-0x10", -16},
    {"0X10", 0},  // only the lower-case prefix introduces hexadecimal
    {"0b101", 5},
    {"0o17", 15},
    {"010", 10},  // a leading zero is still decimal
    {"4294967295", -1},
    {"4294967296", 0},  // accumulated modulo 2^32
    {"abc", 0},
    {"- 5", 0},
    {"1 2", 1},
    {"42 ; note", 42},
    {"\"42\"", 42},  // a quoted value loses its quotes
    {"'42'", 42},
    {"\"11", 0},  // an unmatched quote stays
    {"", kProfileDefault},
    {"   ", kProfileDefault},
};

// A whole file, the section and key asked for, and the answer.
struct ProfileFileCase {
    const char* what;
    const char* content;
    const char* section;
    const char* key;
    int expected;
};

inline constexpr ProfileFileCase kProfileFileCases[] = {
    {"names ignore case", "[ztk]\nkEy=3\n", "ZTK", "KEY", 3},
    {"blanks around names and values", "  [ ZTK ]  \n\t KEY \t=\t 4 \t\n", "ZTK", "KEY", 4},
    {"names asked for are trimmed", "[ZTK]\nKEY=5\n", " ZTK ", " KEY ", 5},
    {"CR LF line ends", "[ZTK]\r\nKEY=6\r\n", "ZTK", "KEY", 6},
    {"CR line ends", "[ZTK]\rKEY=7\r", "ZTK", "KEY", 7},
    {"no line end at the end", "[ZTK]\nKEY=8", "ZTK", "KEY", 8},
    {"UTF-8 byte-order mark", "\xEF\xBB\xBF[ZTK]\nKEY=9\n", "ZTK", "KEY", 9},
    {"text after the section header", "[ZTK] old\nKEY=10\n", "ZTK", "KEY", 10},
    {"other sections are not searched", "[A]\nKEY=1\n[ZTK]\nOTHER=2\n[B]\nKEY=3\n", "ZTK", "KEY",
     kProfileDefault},
    {"key before any section", "KEY=1\n[ZTK]\n", "ZTK", "KEY", kProfileDefault},
    {"first of two keys", "[ZTK]\nKEY=11\nKEY=12\n", "ZTK", "KEY", 11},
    {"first key empty", "[ZTK]\nKEY=\nKEY=12\n", "ZTK", "KEY", kProfileDefault},
    {"key without '='", "[ZTK]\nKEY\n", "ZTK", "KEY", kProfileDefault},
    {"only the first section of the name", "[ZTK]\nA=1\n[X]\n[ZTK]\nKEY=13\n", "ZTK", "KEY", kProfileDefault},
    {"header without ']'", "[ZTK\nKEY=14\n", "ZTK", "KEY", kProfileDefault},
    {"commented-out key", "[ZTK]\n;KEY=1\nKEY=15\n", "ZTK", "KEY", 15},
    {"value after a second '='", "[ZTK]\nKEY==16\n", "ZTK", "KEY", 0},
    {"key with a blank inside", "[ZTK]\nMY KEY=17\n", "ZTK", "MY KEY", 17},
};

}  // namespace b58::testing
