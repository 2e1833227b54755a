#pragma once
// Turning a stair trace into the few vertices that one pixel column can show, with the trace's
// level-of-detail summary (core/trace/trace_summary.h): a column costs O(log) however many
// points it spans, and the points themselves are read only at the column's first point. Per column
// the polyline gets at most four vertices: the level entering the column, the lowest and highest
// level in it, and the level leaving it. A column holding a single point keeps that point's exact
// X.

#include <QColor>
#include <QPainter>
#include <QPointF>
#include <QRect>
#include <QVector>

#include <cstdint>
#include <vector>

#include "core/trace/channel_trace.h"
#include "core/trace/trace_summary.h"

namespace ui {

using osc::TraceSummary;

// The mapping of ticks and levels onto pixels of the plotting rectangle.
struct StairMapping {
    double windowMin = 0;  // ticks at the left edge
    double windowMax = 1;  // ticks at the right edge (exclusive)
    double left = 0;       // pixel X of windowMin
    int columns = 0;       // width of the plotting rectangle in pixels
    double levelMin = 0;   // left-axis value at the bottom edge
    double levelMax = 9;   // left-axis value at the top edge
    double top = 0;        // pixel Y of levelMax
    double height = 1;     // pixels from top to the bottom edge

    double pixelY(double level) const {
        return top + (levelMax - level) * height / (levelMax - levelMin);
    }
};

// The pixels of a polyline of horizontal and vertical segments, as rectangles: each point
// (x, y) of a segment lights pixel column floor(x), row floor(y), both ends of every segment
// included, within clip; neighbouring columns that light the same rows share one rectangle.
// (A polyline that goes on from left to right lights one run of rows per column.) This is the
// picture of a thin pen along the stairs, in a few rectangles where a busy stretch has
// thousands of segments. out is cleared first. False (out empty) for a polyline with a slope or
// a step back to the left, which has no such picture.
bool stairRectangles(const QVector<QPointF>& polyline, const QRect& clip, std::vector<QRect>& out);

// Draws the polyline in colour within clip: by its rectangles when the painter puts pixels into
// an image and maps the coordinates onto whole pixels of it (no scaling, a whole-pixel offset)
// and the polyline is a stair, else (a printer, a scaled screen) as a polyline with a thin pen.
// scratch keeps its memory between calls.
void drawStairs(QPainter& p, const QVector<QPointF>& polyline, const QRect& clip,
                const QColor& colour, std::vector<QRect>& scratch);

// How exactly a column's end is placed among the points.
enum class ColumnEdges {
    Exact,  // at the first point whose X reaches it
    // A block narrower than a column that the edge cuts goes to the column on the left whole:
    // its points are not read, only the summary's entries (the overview strip, where a block
    // is a sliver of a pixel and reading the points of each column's block was most of a
    // repaint). Its levels still show, at most one block's width off.
    WholeBlocks,
};

// While a capture runs each line holds its last level up to the newest time base (liveEnd, in
// ticks), although no point marks it yet: a polyline of trace (from buildStairPolyline) that
// ends at the trace's last point goes on at that level to liveEnd, or to the right edge when
// liveEnd lies beyond it. Nothing changes when points follow the window or liveEnd is not after
// the last point.
void extendToLiveEnd(const osc::ChannelTrace& trace, const StairMapping& map, double liveEnd,
                     QVector<QPointF>& polyline);

// Appends the polyline of the visible part of trace to out (cleared first). The line starts at
// the left edge with the level of the last point before the window (or at the first point), and
// ends at the right edge when points follow the window, else at the trace's last point. The
// summary should have been updated with this trace; if not, a summary is made for the call.
void buildStairPolyline(const osc::ChannelTrace& trace, const TraceSummary& summary,
                        const StairMapping& map, QVector<QPointF>& out,
                        ColumnEdges edges = ColumnEdges::Exact);

}  // namespace ui
