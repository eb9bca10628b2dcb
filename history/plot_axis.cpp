#include "history/plot_axis.h"

#include "platform/local_time.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kWeek = 7 * kDay;
constexpr const char16_t* kWeekdays[7] = {u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"};
constexpr const char16_t* kMonths[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                         u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (March-based years, so the
// leap day ends a year).
int64_t daysOfDate(int64_t year, int64_t month, int64_t day) {
    if (month <= 2) --year;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

// Seconds since 1970 as the local clock counts them.
int64_t localSeconds(const LocalTime& t) {
    return daysOfDate(t.year, t.month, t.day) * kDay + t.hour * 3600 + t.minute * 60 + t.second;
}

int64_t offsetAt(int64_t moment) {
    return localSeconds(localTimeOf(moment)) - moment;
}

// The moment the local clock shows local: the offset of a first guess, taken again where that guess
// lands, so a tick just past a change to or from summer time keeps its clock time.
int64_t momentOf(int64_t local) {
    return local - offsetAt(local - offsetAt(local));
}

int64_t floorDivide(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// Tick steps in seconds; a month and a quarter stand as -1 and -3.
constexpr int64_t kSteps[] = {1,     2,     5,        10,    15,        30,   60,    120,
                              300,   600,   900,      1800,  3600,      7200, 10800, 21600,
                              43200, 86400, 2 * kDay, kWeek, 2 * kWeek, -1,   -3};

enum class LabelForm { seconds, clock, weekday, date };

LabelForm formOf(int64_t seconds, int64_t step) {
    if (step > 0 && step < 60) return LabelForm::seconds;
    if (seconds <= kDay) return LabelForm::clock;
    if (seconds <= kWeek) return LabelForm::weekday;
    return LabelForm::date;
}

int32_t labelUnits(LabelForm form) {
    const int32_t units[] = {8, 5, 9, 6};
    return units[static_cast<int>(form)];
}

const char16_t* weekdayOf(const LocalTime& t) {
    // 1970-01-01 was a Thursday.
    return kWeekdays[(daysOfDate(t.year, t.month, t.day) % 7 + 10) % 7];
}

int label(const LocalTime& t, LabelForm form, char16_t (&text)[kTimeLabelUnits]) {
    switch (form) {
        case LabelForm::seconds:
            return format16(text, kTimeLabelUnits, u"%02d:%02d:%02d", t.hour, t.minute, t.second);
        case LabelForm::clock:
            return format16(text, kTimeLabelUnits, u"%02d:%02d", t.hour, t.minute);
        case LabelForm::weekday:
            return format16(text, kTimeLabelUnits, u"%s %02d:%02d", weekdayOf(t), t.hour, t.minute);
        case LabelForm::date:
            break;
    }
    return format16(text, kTimeLabelUnits, u"%d %s", t.day, kMonths[t.month - 1]);
}

// The first local tick time at or after local for step (a week starts on Monday, a month on its
// first, a quarter in January, April, July or October).
int64_t firstTickAtOrAfter(int64_t local, int64_t step) {
    if (step > 0) {
        const int64_t anchor = step % kWeek == 0 ? 4 * kDay : 0;  // day 4 of 1970 was a Monday
        return floorDivide(local - anchor + step - 1, step) * step + anchor;
    }
    const int64_t day = floorDivide(local, kDay);
    // The calendar date of day, by stepping the month from an estimate.
    int64_t year = 1970 + floorDivide(day, 366) - 1;
    while (daysOfDate(year + 1, 1, 1) <= day) ++year;
    int64_t month = 1;
    while (month < 12 && daysOfDate(year, month + 1, 1) <= day) ++month;
    const int64_t months = -step;
    month = (month - 1) / months * months + 1;
    int64_t start = daysOfDate(year, month, 1) * kDay;
    while (start < local) {
        month += months;
        if (month > 12) {
            month -= 12;
            ++year;
        }
        start = daysOfDate(year, month, 1) * kDay;
    }
    return start;
}

int64_t nextTick(int64_t local, int64_t step) {
    return step > 0 ? local + step : firstTickAtOrAfter(local + 1, step);
}

int64_t stepLength(int64_t step) {
    return step > 0 ? step : -step * 30 * kDay;
}

}  // namespace

int32_t valueToPixel(uint32_t value, uint32_t low, uint32_t high, int32_t top, int32_t bottom) {
    if (value <= low || high <= low) return bottom;
    if (value >= high) return top;
    const int64_t rise = static_cast<int64_t>(bottom - top) * (value - low) / (high - low);
    return bottom - static_cast<int32_t>(rise);
}

PlotGrid choosePlotGrid(uint32_t minimum, uint32_t maximum, int32_t maxLines) {
    if (maxLines < 1) maxLines = 1;
    uint64_t least = minimum;
    uint64_t most = maximum;
    const uint64_t wanted = most / 10 > 10 ? most / 10 : 10;
    if (most - least < wanted) {
        // Widened about its middle, not below 0.
        const uint64_t middle = (least + most) / 2;
        least = middle > wanted / 2 ? middle - wanted / 2 : 0;
        most = least + wanted;
    }
    const uint64_t multiples[3] = {1, 2, 5};
    for (uint64_t scale = 1;; scale *= 10) {
        for (uint64_t multiple : multiples) {
            const uint64_t step = multiple * scale;
            const uint64_t low = least / step * step;
            const uint64_t high = (most + step - 1) / step * step;
            if ((high - low) / step <= static_cast<uint64_t>(maxLines)) {
                return {static_cast<uint32_t>(low),
                        static_cast<uint32_t>(high > 0xFFFFFFFFu ? 0xFFFFFFFFu : high),
                        static_cast<uint32_t>(step)};
            }
        }
    }
}

int timeTicks(int64_t first, int64_t seconds, int32_t width, int32_t charWidth,
              TimeTick (&ticks)[kMostTimeTicks]) {
    if (seconds < 1 || width < 1) return 0;
    int64_t step = kSteps[sizeof kSteps / sizeof kSteps[0] - 1];
    for (const int64_t candidate : kSteps) {
        const int64_t count = seconds / stepLength(candidate) + 1;
        const int64_t room = count * (labelUnits(formOf(seconds, candidate)) + 2) * charWidth;
        if (count <= kMostTimeTicks && room <= width) {
            step = candidate;
            break;
        }
    }
    const LabelForm form = formOf(seconds, step);
    const int64_t end = first + seconds;
    int count = 0;
    for (int64_t local = firstTickAtOrAfter(first + offsetAt(first), step); count < kMostTimeTicks;
         local = nextTick(local, step)) {
        const int64_t moment = momentOf(local);
        if (moment >= end) break;
        if (moment < first) continue;
        TimeTick& tick = ticks[count++];
        tick.x = static_cast<int32_t>((moment - first) * width / seconds);
        tick.length = label(localTimeOf(moment), form, tick.label);
    }
    return count;
}

int readoutTime(int64_t second, int64_t rangeSeconds, int32_t periodSeconds,
                char16_t (&text)[kTimeLabelUnits]) {
    const LocalTime t = localTimeOf(second);
    if (periodSeconds < 60 && rangeSeconds <= kDay) return label(t, LabelForm::seconds, text);
    if (rangeSeconds <= kDay) return label(t, LabelForm::clock, text);
    if (rangeSeconds <= kWeek) return label(t, LabelForm::weekday, text);
    return format16(text, kTimeLabelUnits, u"%s %d %s %02d:%02d", weekdayOf(t), t.day, kMonths[t.month - 1],
                    t.hour, t.minute);
}

}  // namespace tarvelon
