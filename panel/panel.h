// The panel as one include: display list, layout, colours, surface and the drawing passes.
#pragma once

#include "panel/panel_colours.h"
#include "panel/panel_draw.h"
#include "panel/panel_layout.h"
#include "panel/panel_list.h"
#include "panel/surface.h"
