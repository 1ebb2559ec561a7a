// The plug-in's numeric result codes, grouped by the unit that raises them.
//
// How failures travel: every operation of the core returns its code
// ([[nodiscard]]; 0 for success), and a caller passes a nonzero code on
// unchanged and stops where it is. Nothing in the core throws a code.
// Memory exhaustion is the one failure that travels as an exception
// (std::bad_alloc, from the containers or from a raster no memory can
// hold); the call protocol, which runs every host operation, turns it into
// kOutOfMemory (103). The host itself only ever sees a truth value.
#pragma once
#include <cstdint>

using ResultCode = long;

namespace result {
inline constexpr ResultCode kOk = 0;
// Plug-in object: a pointer the call needs is null, or a count is out of
// range. The protocol checks what the host passes; the engine behind it
// takes references and values it can rely on.
inline constexpr ResultCode kBadArgument = 101;
inline constexpr ResultCode kJobRefused = 102;
inline constexpr ResultCode kOutOfMemory = 103;
// Job engine. A clock's rotation that is not a quarter turn is 205.
inline constexpr ResultCode kClockBadArgument = 205;
inline constexpr ResultCode kBadRotation = 208;
inline constexpr ResultCode kWrongBitmapName = 209;
inline constexpr ResultCode kEncodingFailed = 210;
// Command stream.
inline constexpr ResultCode kSetupFailed = 301;
inline constexpr ResultCode kWriteFailed = 304;
// Raster and text rendering.
inline constexpr ResultCode kBadSourceBitmap = 401;
inline constexpr ResultCode kBadTextArgument = 402;
inline constexpr ResultCode kStaticCompose = 404;
inline constexpr ResultCode kVariableCompose = 405;
inline constexpr ResultCode kTextRotation = 406;
inline constexpr ResultCode kTextDrawing = 407;
}  // namespace result
