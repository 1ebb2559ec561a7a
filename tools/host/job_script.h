// A job file of ours: one host call (or set-up step) per line, run in order.
//
//   printer NAME | output PATH | resolution DPI
//   clear-settings | setting NAME VALUE
//   initialize | header WIDTH LENGTH
//   layout ROTATION COLUMNS ROWS HPITCH VPITCH      (pitches in tenths of a millimetre)
//   design NAME WIDTH HEIGHT "TEXT"                  (frame, logo and fixed text, drawn with GDI)
//   text NAME WIDTH HEIGHT "TEXT"                    (black text on white)
//   bmp NAME PATH                                    (a 1-bit or 24-bit BMP file)
//   send NAME                                        (lpxSendBitmap under that name)
//   start-label X Y | end-label X Y | empty-page
//   page | base X Y | variable NAME X Y | clock "TEXT" X Y HEIGHT "FACE"
//   close-static COPIES | close-dynamic USED | final | write | clear | config
//   expect-false                                     (the next call must return false)
//
// Words are separated by blanks; "double quotes" hold blanks, \n a line feed.
// Lines starting with # are comments.
#pragma once
#include <string>
#include <vector>

struct ScriptLine {
  int number = 0;
  std::vector<std::wstring> words;
};

// Splits a job file's text (UTF-8) into lines of words. False with `error` set on a bad line.
bool ParseJobScript(const std::string& text, std::vector<ScriptLine>& lines, std::wstring& error);
