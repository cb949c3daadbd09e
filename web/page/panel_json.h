// The panel picture's description (app/panel_description) as a list of
// drawing operations in JSON, which page.js paints on a canvas.
#pragma once

#include <string>

namespace korvane::web {

std::string PanelAsJson();

}  // namespace korvane::web
