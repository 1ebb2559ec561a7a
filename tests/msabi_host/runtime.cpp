// What the compiler expects of a C runtime that this host does without: the
// memory functions it calls for zero-filled aggregates and copies. Anything
// else it starts to need (the stack probe __chkstk for frames above a page,
// _fltused once floating point is used) shows as an undefined symbol when
// lld-link links the host; keep frames small and integers only instead.
#include <stddef.h>

extern "C" {

// Byte by byte through a volatile pointer: the compiler must not turn these
// loops back into calls of themselves.
void* memset(void* target, int value, size_t count) {
  volatile unsigned char* bytes = static_cast<unsigned char*>(target);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(value);
  return target;
}

void* memcpy(void* target, const void* source, size_t count) {
  volatile unsigned char* to = static_cast<unsigned char*>(target);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < count; ++i) to[i] = from[i];
  return target;
}

}  // extern "C"
