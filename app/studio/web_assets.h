// SPDX-License-Identifier: MIT
// The studio's page (app/studio/web/), built into the program by cmake/embed_web.cmake
// so that one binary serves it wherever it is installed.
#pragma once

#include <cstddef>
#include <vector>

struct WebAsset {
  const char* path;           ///< as the page asks for it: "/index.html", "/js/studio.js"
  const unsigned char* data;
  std::size_t size;
};

/// Every file of the page, in path order.
const std::vector<WebAsset>& WebAssets();
