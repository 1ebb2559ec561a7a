// The virtual printer's page, its style and its scripts, served from the binary.
#pragma once

namespace streamcheck::serve {

// The page, its style and its script, served from the binary.
extern const char* const kPageHtml;
extern const char* const kPageCss;
extern const char* const kPageScript;
// The zoom viewer's rulers and compare (web_tools.cpp).
extern const char* const kToolsCss;
extern const char* const kToolsScript;

}  // namespace streamcheck::serve
