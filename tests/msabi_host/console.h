// Text on standard output, without a C runtime: ASCII messages and numbers.
#pragma once
#include "win32_api.h"

inline void Print(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  DWORD written = 0;
  WriteFile(GetStdHandle(kStdOutput), text, static_cast<DWORD>(length), &written, nullptr);
}

inline void PrintNumber(uint64_t value) {
  char digits[24];
  char* at = digits + sizeof digits - 1;
  *at = '\0';
  do {
    *--at = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Print(at);
}
