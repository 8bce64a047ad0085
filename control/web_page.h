#pragma once
// The control page and its script, embedded at build time from
// control/web_page.html and control/web_page.js (cmake/embed_web_page.cmake).
namespace qv::control {

extern const char kWebPageHtml[];
extern const char kWebPageJs[];

}  // namespace qv::control
