#pragma once

#include <QRect>
#include <QSize>
#include <QSizeF>

// Where the video picture sits in the player area.
namespace picture_layout {

// The ShowAll layout: the largest rectangle of the video's shape that fits
// `area`, centred. Never larger than the area and, for a video and an area
// that are not empty, never empty: a video far wider or taller than the area
// still gets a line of one pixel. Empty when either is empty.
QRect ShowAll(QSize video, QSizeF area);

}  // namespace picture_layout
