// Key codes as the tool compares them. Keys with a character arrive as that
// character (cp866 for Cyrillic letters); keys without one arrive as the
// prefix 0 followed by the PC keyboard scan code.
#pragma once

namespace tv::key {

inline constexpr int Prefix = 0x00;  // first code of every key without a character
inline constexpr int CtrlC = 0x03;   // never returned by a key read: it asks to leave the tool
inline constexpr int Backspace = 0x08;
inline constexpr int Tab = 0x09;
inline constexpr int LineFeed = 0x0A;  // not a key: end of help lines and device replies
inline constexpr int Enter = 0x0D;
inline constexpr int Esc = 0x1B;
inline constexpr int Blank = 0x20;  // not a key: the filler after field texts

// Scan codes, each the second code of an extended key.
inline constexpr int F1 = 0x3B;
inline constexpr int F10 = 0x44;
inline constexpr int Home = 0x47;
inline constexpr int Up = 0x48;
inline constexpr int PgUp = 0x49;
inline constexpr int Left = 0x4B;
inline constexpr int Right = 0x4D;
inline constexpr int End = 0x4F;
inline constexpr int Down = 0x50;
inline constexpr int PgDn = 0x51;
inline constexpr int Insert = 0x52;
inline constexpr int Delete = 0x53;

// The help keys of the forms: F10, and F1, which terminals that take F10 for
// their own menu still pass on.
inline constexpr bool IsHelp(int scan) { return scan == F10 || scan == F1; }

}  // namespace tv::key
