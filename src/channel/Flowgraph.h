#pragma once

#include "channel/Flow.h"

class QPainter;

// What a paint of the flow graph leaves behind for the pointer read-out and the
// history graph's check boxes.
struct FlowGraphResult
{
    bool givesFlow = false; // a curve was drawn
    bool scaledX = false;   // flowScaleX was worked out
    bool scaledY = false;   // flowScaleY was worked out
    float flowScaleX = 0;   // pixels per mm of head
    float flowScaleY = 0;   // pixels per m³/s
};

// The head-to-flow curve from 0 to 5 m on a W x H surface, with its frame, axes,
// grids and labels. Types without flow draw nothing; a description without flow
// draws the frame and the axes only.
FlowGraphResult DrawFlowGraphPicture(QPainter &p, int W, int H, qint32 type, const ChannelDimensions &dims);
