// The toolbar buttons' icons, drawn in code: black shapes on transparency, 24 x 18 points, so
// that a ToolbarButton can draw them in the text or the accent colour.
#pragma once

#include <QIcon>

enum class ToolbarGlyph {
    LeftPanels,        // window outline, left strip filled
    RightPanels,       // window outline, right strip filled
    BottomPanels,      // window outline, bottom strip filled
    MiniView,          // two narrow windows side by side
    ZoomIn,            // magnifier with a plus
    ZoomOut,           // magnifier with a minus
    ZoomToFit,         // frame with its four corners pointing outward
    ActualSize,        // "1:1"
    RotateCCW,         // arc with its arrow turning left
    RotateCW,          // arc with its arrow turning right
    FlipHorizontally,  // two triangles pointing apart across an upright line
    FlipVertically,    // two triangles pointing apart across a level line
    InspectCorners,    // 3 x 3 grid of tiles
    Load,              // folder
    Save,              // arrow down into a tray
};

// Size of every glyph in points.
inline constexpr QSize kToolbarGlyphSize{24, 18};

QIcon toolbarGlyph(ToolbarGlyph glyph);
