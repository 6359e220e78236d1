// Time stamps: seconds since 1970 to and from broken-down time, and the
// C library's calls behind them.
//
// MER stamps are composed as local time, as mktime composes them. mktime
// reads the time-zone settings again on every call (with TZ unset, a
// look-up of the system's zone file), and a MER record needs two
// conversions. Here the zone is read again only when TZ has changed
// (refresh_local_zone, once per record), and a conversion is answered from
// a window: a stretch of local time over which mktime's offset from UTC is
// known. One mktime call sets a window up; it is then stretched hour by
// hour, in both directions, as long as the library's local time shows the
// same offset and daylight-saving state (no zone changes them twice within
// an hour). Inside it mktime(L) = L - offset, and the normalised time is
// the local time of the result. A conversion outside every window (near a
// transition, after TZ changed) calls mktime and sets up a new one. The
// hours that lie whole inside a window are remembered too (the last two):
// a time in such an hour is its first second's result plus its minutes and
// seconds, and its normalised fields are the first second's plus the same.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "datafiles/transfer.h"

#if !defined(_WIN32)
extern char **environ;
#endif

namespace cardfs {
namespace {

constexpr int64_t kMinute = 60, kHour = 3600, kDay = 86400;
constexpr int64_t kReach = 2 * kDay;  // how far a window stretches from the time that set it up
constexpr int kWindows = 4;

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Days from 1970-01-01 to year-month-day of the proleptic Gregorian
// calendar (month 1 to 12), and back.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = floor_div(y, 400), yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

void civil_from_days(int64_t days, int64_t *y, int64_t *m, int64_t *d) {
    days += 719468;
    const int64_t era = floor_div(days, 146097), doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yoe + era * 400 + (*m <= 2);
}

// Consecutive records mostly fall in the same months (the stamp's and the
// one its year field moves it to) and on the same day: the first days of
// the last two months and the last day's date are kept.
struct CalendarMemo {
    int64_t year[2] = {INT64_MIN, INT64_MIN}, month[2] = {0, 0}, firstDay[2] = {0, 0};  // month 1 to 12
    int next = 0;
    int64_t day = INT64_MIN, y = 0, m = 0, d = 0;
};
CalendarMemo g_calendar;

int64_t first_day_of(int64_t year, int64_t month) {
    CalendarMemo &c = g_calendar;
    for (int i = 0; i < 2; i++)
        if (c.year[i] == year && c.month[i] == month) return c.firstDay[i];
    const int i = c.next;
    c.next = 1 - i;
    c.year[i] = year, c.month[i] = month;
    return c.firstDay[i] = days_from_civil(year, month, 1);
}

// The fields of a broken-down time as seconds counted as if it were UTC,
// each field carried into the next as mktime does (month 12 is January of
// the next year, second 90 one and a half minutes).
int64_t local_seconds(const struct tm &t) {
    const int64_t years = t.tm_mon >= 0 && t.tm_mon < 12 ? 0 : floor_div(t.tm_mon, 12);
    const int64_t days = first_day_of(int64_t{t.tm_year} + 1900 + years, t.tm_mon - years * 12 + 1) + t.tm_mday - 1;
    return days * kDay + t.tm_hour * kHour + t.tm_min * kMinute + t.tm_sec;
}

// The broken-down time of seconds counted as if they were UTC: the fields
// mktime reads (it also sets tm_wday and tm_yday, which it does not read
// and nothing here uses).
void civil_time(int64_t s, struct tm *out) {
    const int64_t days = floor_div(s, kDay), rest = s - days * kDay;
    CalendarMemo &c = g_calendar;
    if (days != c.day) c.day = days, civil_from_days(days, &c.y, &c.m, &c.d);
    out->tm_year = int(c.y - 1900), out->tm_mon = int(c.m - 1), out->tm_mday = int(c.d);
    const int32_t r = int32_t(rest);  // 0 to 86399: narrow divisions are cheaper
    out->tm_hour = int(r / 3600), out->tm_min = int(r / 60 % 60), out->tm_sec = int(r % 60);
}

// ---- the C library ----
void read_zone() {
#if defined(_WIN32)
    _tzset();
#else
    tzset();
#endif
}

bool local_time(int64_t t, struct tm *out) {
    const time_t tt = time_t(t);
#if defined(_WIN32)
    return localtime_s(out, &tt) == 0;
#else
    return localtime_r(&tt, out) != nullptr;
#endif
}

// ---- the zone as last read, and the windows known for it ----
// A window: for a broken-down time whose tm_isdst has the sign `asked` and
// whose fields count `from` to `to` seconds, mktime gives fields - offset,
// normalised to the local time result + shown with tm_isdst `isdst`.
struct Window {
    int asked;
    int64_t from, to;
    int64_t offset, shown;
    int isdst;
};
struct LocalZone {
    uint32_t generation;  // counts the readings of the zone
    bool read;
    bool tzSet;         // TZ was set when the zone was read, to tz
    bool windowed;      // TZ fitted into tz: windows may be used
    char tz[256];
    Window windows[kWindows];
    int used, next, last[2];
};
LocalZone g_zone = {};

// An hour of local time that lies whole inside a window: the fields that
// name it, the tm_isdst sign asked, mktime's result for its first second
// and that second's normalised fields.
struct HourMemo {
    uint32_t generation;  // of the zone it holds for
    int asked;
    int year, mon, mday, hour;
    int64_t t0;
    struct tm first;
};
HourMemo g_hours[2];
int g_nextHour = 0;

bool minutes_in_hour(const struct tm &t) { return t.tm_min >= 0 && t.tm_min < 60 && t.tm_sec >= 0 && t.tm_sec < 60; }
int64_t into_hour(const struct tm &t) { return t.tm_min * kMinute + t.tm_sec; }

const HourMemo *hour_of(const struct tm &t, int asked) {
    if (!g_zone.read || !minutes_in_hour(t)) return nullptr;
    for (const HourMemo &h : g_hours)
        if (h.generation == g_zone.generation && h.asked == asked && h.hour == t.tm_hour && h.mday == t.tm_mday &&
            h.mon == t.tm_mon && h.year == t.tm_year)
            return &h;
    return nullptr;
}

// Remembers the hour of t (which counted `local` seconds) when window w,
// which answered it, holds the whole hour.
void remember_hour(const struct tm &t, int asked, int64_t local, const Window &w) {
    const int64_t first = local - into_hour(t);
    if (!minutes_in_hour(t) || first < w.from || first + kHour - 1 > w.to) return;
    HourMemo &h = g_hours[g_nextHour];
    g_nextHour = 1 - g_nextHour;
    h = {g_zone.generation, asked, t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, first - w.offset, {}};
    civil_time(h.t0 + w.shown, &h.first);
    h.first.tm_isdst = w.isdst;
}

bool zone_unchanged(const char *tz) {
    if (!g_zone.read) return false;
    if (tz == nullptr) return !g_zone.tzSet;
    return g_zone.tzSet && g_zone.windowed && strcmp(tz, g_zone.tz) == 0;
}

bool covers(const Window &w, int asked, int64_t local) { return w.asked == asked && w.from <= local && local <= w.to; }

// The window for a time. The two that answered last are tried first: a
// record's stamp and its refined time mostly fall in two of them.
const Window *window_for(int asked, int64_t local) {
    if (g_zone.used == 0) return nullptr;
    for (int k = 0; k < 2; k++)
        if (covers(g_zone.windows[g_zone.last[k]], asked, local)) return &g_zone.windows[g_zone.last[k]];
    for (int i = 0; i < g_zone.used; i++) {
        if (!covers(g_zone.windows[i], asked, local)) continue;
        g_zone.last[1] = g_zone.last[0], g_zone.last[0] = i;
        return &g_zone.windows[i];
    }
    return nullptr;
}

// Whether the local time at t shows the given offset and state.
bool shows(int64_t t, int64_t shown, int isdst) {
    struct tm lt;
    return local_time(t, &lt) && local_seconds(lt) - t == shown && lt.tm_isdst == isdst;
}

// The window around mktime's result t for a time that counted `local`
// seconds, normalised to *n.
void learn(int asked, int64_t local, int64_t t, const struct tm &n) {
    Window w = {asked, 0, 0, local - t, local_seconds(n) - t, n.tm_isdst};
    int64_t lo = t, hi = t;
    while (hi - t < kReach && shows(hi + kHour, w.shown, w.isdst)) hi += kHour;
    while (t - lo < kReach && shows(lo - kHour, w.shown, w.isdst)) lo -= kHour;
    w.from = lo + w.offset, w.to = hi + w.offset;
    g_zone.windows[g_zone.next] = w;
    g_zone.next = (g_zone.next + 1) % kWindows;
    if (g_zone.used < kWindows) g_zone.used++;
}

int asked_state(const struct tm &tm) { return tm.tm_isdst > 0 ? 1 : tm.tm_isdst < 0 ? -1 : 0; }

// mktime of *tm, which it normalises.
int64_t normalised_time(struct tm *tm) {
    const int asked = asked_state(*tm);
    if (const HourMemo *h = hour_of(*tm, asked)) {
        const int min = h->first.tm_min + tm->tm_min, sec = h->first.tm_sec + tm->tm_sec;
        if (min < 60 && sec < 60) {
            const int64_t t = h->t0 + into_hour(*tm);
            tm->tm_year = h->first.tm_year, tm->tm_mon = h->first.tm_mon, tm->tm_mday = h->first.tm_mday;
            tm->tm_hour = h->first.tm_hour, tm->tm_min = min, tm->tm_sec = sec, tm->tm_isdst = h->first.tm_isdst;
            return t;
        }
    }
    const int64_t local = local_seconds(*tm);
    if (const Window *w = g_zone.windowed ? window_for(asked, local) : nullptr) {
        remember_hour(*tm, asked, local, *w);
        const int64_t t = local - w->offset;
        civil_time(t + w->shown, tm);
        tm->tm_isdst = w->isdst;
        return t;
    }
    const int64_t t = int64_t(mktime(tm));
    // -1 is also mktime's failure, after which *tm may not be normalised.
    if (t != -1 && g_zone.windowed) learn(asked, local, t, *tm);
    return t;
}

// mktime's result for tm, which stays as it is.
int64_t time_of(const struct tm &tm) {
    const int asked = asked_state(tm);
    if (const HourMemo *h = hour_of(tm, asked)) return h->t0 + into_hour(tm);
    const int64_t local = local_seconds(tm);
    if (const Window *w = g_zone.windowed ? window_for(asked, local) : nullptr) {
        remember_hour(tm, asked, local, *w);
        return local - w->offset;
    }
    struct tm copy = tm;
    return normalised_time(&copy);
}

int32_t in_range(int64_t t) { return t < 0 || t > INT32_MAX ? -1 : int32_t(t); }

// TZ as getenv gives it, without a scan of the environment for every
// record. The slot TZ was found in is remembered with the environment's
// array; when TZ was absent, the array's length and last entry. While the
// array holds the same entry in that slot (or still ends with the same
// entry at the same length), TZ is where it was found: setenv, putenv and
// unsetenv replace, add or move entries, which these checks see. An entry
// rewritten in place keeps its slot; its text is compared with the zone
// read all the same.
#if defined(_WIN32)
const char *find_tz() { return getenv("TZ"); }
#else
struct TzSlot {
    char **environment;
    bool present;
    long slot;          // TZ's slot, or the length of the environment
    const char *entry;  // the entry in TZ's slot, or the last entry
};
TzSlot g_tzSlot = {};

bool is_tz(const char *entry) { return entry[0] == 'T' && entry[1] == 'Z' && entry[2] == '='; }

const char *find_tz() {
    char **const env = environ;
    TzSlot &c = g_tzSlot;
    if (env != nullptr && env == c.environment) {
        if (c.present && env[c.slot] == c.entry && is_tz(c.entry)) return c.entry + 3;
        if (!c.present && env[c.slot] == nullptr && (c.slot == 0 || env[c.slot - 1] == c.entry)) return nullptr;
    }
    c = TzSlot{env, false, 0, nullptr};
    for (long n = 0; env != nullptr && env[n] != nullptr; n++) {
        if (is_tz(env[n])) return c.present = true, c.slot = n, c.entry = env[n], env[n] + 3;
        c.slot = n + 1, c.entry = env[n];
    }
    return nullptr;
}
#endif

}  // namespace

void refresh_local_zone() {
    const char *tz = find_tz();
    if (zone_unchanged(tz)) return;
    read_zone();
    g_zone.generation++;
    g_zone.read = true;
    g_zone.tzSet = tz != nullptr;
    g_zone.windowed = tz == nullptr || strlen(tz) < sizeof g_zone.tz;
    if (tz != nullptr && g_zone.windowed) strcpy(g_zone.tz, tz);
    g_zone.used = g_zone.next = g_zone.last[0] = g_zone.last[1] = 0;
}

int32_t make_time_local(struct tm *tm) { return in_range(normalised_time(tm)); }

int32_t local_time_value(const struct tm &tm) { return in_range(time_of(tm)); }

bool break_time_utc(int32_t time, struct tm *out) {
    if (time < 0) return false;
    time_t t = time;
#if defined(_WIN32)
    return gmtime_s(out, &t) == 0;
#else
    return gmtime_r(&t, out) != nullptr;
#endif
}

}  // namespace cardfs
