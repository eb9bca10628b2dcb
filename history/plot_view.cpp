#include "history/plot_view.h"

namespace tarvelon {
namespace {

constexpr int64_t kLongestRange = 366 * 86400;  // what the hour tier holds

// The range seconds long ending at end, kept within what the tiers hold and not past newest.
PlotView rangeView(const PlotView& view, int64_t newest, int64_t end, int64_t seconds) {
    if (seconds < kShortestRange) seconds = kShortestRange;
    if (seconds > kLongestRange) seconds = kLongestRange;
    if (end - seconds + 1 < newest - kLongestRange + 1) end = newest - kLongestRange + seconds;
    if (end >= newest) return {view.span, true, newest, seconds};
    return {view.span, false, end, seconds};
}

}  // namespace

PlotView spanView(int32_t span) {
    return {span, true, 0, kPlotSpanSeconds[span]};
}

PlotRange plotRange(const PlotView& view, int64_t newest) {
    const int64_t end = view.following ? newest : view.end;
    return {end - view.seconds + 1, view.seconds};
}

HistoryTier plotTier(const PlotRange& range, int64_t newest) {
    return tierForSpan(newest - range.first + 1);
}

int64_t columnSecond(const PlotRange& range, int32_t x, int32_t width) {
    return range.first + int64_t{x} * range.seconds / width;
}

PlotView zoomToColumns(const PlotView& view, int64_t newest, int32_t fromX, int32_t toX, int32_t width) {
    if (fromX > toX) {
        const int32_t swap = fromX;
        fromX = toX;
        toX = swap;
    }
    if (toX - fromX < 3 || width < 1) return view;
    const PlotRange range = plotRange(view, newest);
    const int64_t first = columnSecond(range, fromX, width);
    const int64_t end = columnSecond(range, toX + 1, width) - 1;
    return rangeView(view, newest, end, end - first + 1);
}

PlotView zoomAround(const PlotView& view, int64_t newest, int32_t x, int32_t width, int32_t notches) {
    if (width < 1) return view;
    const PlotRange range = plotRange(view, newest);
    int64_t seconds = range.seconds;
    for (int32_t n = notches; n > 0 && seconds > kShortestRange; --n) seconds /= 2;
    for (int32_t n = notches; n < 0 && seconds < kLongestRange; ++n) seconds *= 2;
    const int64_t anchor = columnSecond(range, x, width);
    const int64_t first = anchor - int64_t{x} * seconds / width;
    return rangeView(view, newest, first + seconds - 1, seconds);
}

int32_t takeWheelNotches(int32_t& pending, int32_t delta) {
    if ((pending < 0 && delta > 0) || (pending > 0 && delta < 0)) pending = 0;
    pending += delta;
    const int32_t notches = pending / kWheelNotch;
    pending -= notches * kWheelNotch;
    return notches;
}

PlotView panView(const PlotView& view, int64_t newest, int32_t direction) {
    const PlotRange range = plotRange(view, newest);
    const int64_t shift = direction * (range.seconds / 4 > 0 ? range.seconds / 4 : 1);
    return rangeView(view, newest, range.first + range.seconds - 1 + shift, range.seconds);
}

}  // namespace tarvelon
