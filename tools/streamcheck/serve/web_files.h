// The page's files (serve/web/: HTML, scripts, style sheets), embedded in the
// program at build time by cmake/EmbedFiles.cmake and served as they are.
#pragma once
#include <span>
#include <string_view>

namespace streamcheck::serve {

struct EmbeddedFile {
  std::string_view name;   // its name in serve/web/, e.g. "app.js"
  std::string_view bytes;  // its exact bytes
};

// All of them, in name order.
std::span<const EmbeddedFile> WebFiles();

// The type a browser is told, from the name's ending.
const char* WebFileType(std::string_view name);

}  // namespace streamcheck::serve
