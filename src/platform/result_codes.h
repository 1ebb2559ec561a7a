// The plug-in's numeric result codes, grouped by the unit that raises them.
// Inside the core a failure travels as a thrown ResultCode (a long) and becomes
// a result only at the operation that answers the host.
#pragma once
#include <cstdint>

using ResultCode = long;

namespace result {
inline constexpr ResultCode kOk = 0;
// Plug-in object.
inline constexpr ResultCode kNullArgument = 101;
inline constexpr ResultCode kJobRefused = 102;
inline constexpr ResultCode kOutOfMemory = 103;
// Job engine.
inline constexpr ResultCode kNullHeader = 201;
inline constexpr ResultCode kBaseNullPosition = 203;
inline constexpr ResultCode kVariableNullArgument = 204;
inline constexpr ResultCode kClockBadArgument = 205;
inline constexpr ResultCode kLabelNullArgument = 206;
inline constexpr ResultCode kBadRotation = 208;
inline constexpr ResultCode kWrongBitmapName = 209;
inline constexpr ResultCode kEncodingFailed = 210;
// Command stream.
inline constexpr ResultCode kSetupFailed = 301;
inline constexpr ResultCode kRecallFailed = 303;
inline constexpr ResultCode kWriteFailed = 304;
// Raster and text rendering.
inline constexpr ResultCode kBadSourceBitmap = 401;
inline constexpr ResultCode kBadTextArgument = 402;
inline constexpr ResultCode kStaticCompose = 404;
inline constexpr ResultCode kVariableCompose = 405;
inline constexpr ResultCode kTextRotation = 406;
inline constexpr ResultCode kTextDrawing = 407;
}  // namespace result

// Throws a nonzero code; returns normally for 0. Keeps "call, then pass a
// failure on" to one line in the engine.
inline void ThrowIfFailed(ResultCode code) {
  if (code != result::kOk) throw code;
}
