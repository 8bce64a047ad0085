#pragma once
// The control page and its script, embedded at build time from
// cli/web_page.html and cli/web_page.js (cmake/embed_web_page.cmake).
namespace qv::cli {

extern const char kWebPageHtml[];
extern const char kWebPageJs[];

}  // namespace qv::cli
