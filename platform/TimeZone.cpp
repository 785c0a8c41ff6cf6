#include "platform/TimeZone.h"

#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace platform::tz {

namespace {

constexpr std::int64_t kSearchLimit = 370LL * 86400;  // about a year

std::atomic<std::uint64_t> g_generation{1};

// Each thread keeps the last few stretches it used; frames arrive in time
// order, so nearly every lookup hits the most recent one.
constexpr int kCachedSpans = 32;
struct ThreadCache {
    std::uint64_t generation = 0;
    int count = 0;
    int next = 0;  // slot replaced next
    int last = 0;  // slot of the last hit
    Span spans[kCachedSpans];

    void Validate() {
        std::uint64_t gen = g_generation.load(std::memory_order_relaxed);
        if (generation != gen) {
            generation = gen;
            count = next = last = 0;
        }
    }
    template <class Pred>
    const Span* Find(Pred pred) {
        Validate();
        if (count > 0 && pred(spans[last])) return &spans[last];
        for (int i = 0; i < count; ++i) {
            if (pred(spans[i])) {
                last = i;
                return &spans[i];
            }
        }
        return nullptr;
    }
    void Add(const Span& s) {
        Validate();
        spans[next] = s;
        last = next;
        if (count < kCachedSpans) ++count;
        next = (next + 1) % kCachedSpans;
    }
};
thread_local ThreadCache t_cache;

// Finds the first instant in (lo, hi] whose offset differs from offLo, given
// that offset(lo) == offLo and offset(hi) != offLo.
bool FindChange(std::int64_t lo, std::int64_t hi, std::int32_t offLo, std::int64_t* change) {
    while (hi - lo > 1) {
        std::int64_t mid = lo + (hi - lo) / 2;
        std::int32_t off;
        if (!OffsetAt(mid, &off)) return false;
        if (off == offLo) lo = mid;
        else hi = mid;
    }
    *change = hi;
    return true;
}

}  // namespace

void Reload() {
    tzset();
    InvalidateCaches();
}

void InvalidateCaches() { g_generation.fetch_add(1); }

std::uint64_t Generation() { return g_generation.load(std::memory_order_relaxed); }

bool OffsetAt(std::int64_t utcSeconds, std::int32_t* offset) {
    time_t t = static_cast<time_t>(utcSeconds);
    struct tm tm;
    if (!localtime_r(&t, &tm)) return false;
    *offset = static_cast<std::int32_t>(tm.tm_gmtoff);
    return true;
}

bool SpanAt(std::int64_t u, Span* span) {
    std::int32_t off;
    if (!OffsetAt(u, &off)) return false;
    // Walk outwards in doubling steps until the offset changes or the limit
    // is reached, then bisect the last step.
    std::int64_t begin = u - kSearchLimit;
    std::int32_t offBefore = off;
    {
        std::int64_t inner = u, step = 3600;
        while (true) {
            std::int64_t outer = u - step;
            std::int32_t o;
            if (outer <= u - kSearchLimit) outer = u - kSearchLimit;
            if (!OffsetAt(outer, &o)) return false;
            if (o != off) {
                // Change lies in (outer, inner]: find the first instant at
                // offset `off` walking down from inner.
                std::int64_t lo = outer, hi = inner;
                while (hi - lo > 1) {
                    std::int64_t mid = lo + (hi - lo) / 2;
                    std::int32_t m;
                    if (!OffsetAt(mid, &m)) return false;
                    if (m == off) hi = mid;
                    else lo = mid;
                }
                begin = hi;
                if (!OffsetAt(begin - 1, &offBefore)) return false;
                break;
            }
            if (outer == u - kSearchLimit) break;
            inner = outer;
            step *= 2;
        }
    }
    std::int64_t end = u + kSearchLimit;
    {
        std::int64_t inner = u, step = 3600;
        while (true) {
            std::int64_t outer = u + step;
            std::int32_t o;
            if (outer >= u + kSearchLimit) outer = u + kSearchLimit;
            if (!OffsetAt(outer, &o)) return false;
            if (o != off) {
                if (!FindChange(inner, outer, off, &end)) return false;
                break;
            }
            if (outer == u + kSearchLimit) break;
            inner = outer;
            step *= 2;
        }
    }
    span->begin = begin;
    span->end = end;
    span->offset = off;
    span->localBegin = begin + offBefore;
    span->localEnd = end + off;
    return true;
}

namespace {

bool CachedSpanForUtc(std::int64_t u, Span* span) {
    if (const Span* hit = t_cache.Find([u](const Span& s) { return u >= s.begin && u < s.end; })) {
        *span = *hit;
        return true;
    }
    if (!SpanAt(u, span)) return false;
    t_cache.Add(*span);
    return true;
}

bool CachedSpanForLocal(std::int64_t l, Span* span) {
    if (const Span* hit = t_cache.Find([l](const Span& s) { return l >= s.localBegin && l < s.localEnd; })) {
        *span = *hit;
        return true;
    }
    return false;
}

// The span whose local interval holds l (uncached search).
bool SpanForLocal(std::int64_t l, Span* span) {
    std::int32_t guessOff;
    if (!OffsetAt(l, &guessOff)) return false;
    if (!SpanAt(l - guessOff, span)) return false;
    for (int i = 0; i < 4; ++i) {
        if (l < span->localBegin) {
            if (!SpanAt(span->begin - 1, span)) return false;
        } else if (l >= span->localEnd) {
            if (!SpanAt(span->end, span)) return false;
        } else {
            return true;
        }
    }
    return l >= span->localBegin && l < span->localEnd;
}

}  // namespace

bool UtcToLocal(std::int64_t utcSeconds, std::int64_t* localSeconds, bool useCache) {
    if (useCache) {
        Span s;
        if (!CachedSpanForUtc(utcSeconds, &s)) return false;
        *localSeconds = utcSeconds + s.offset;
        return true;
    }
    std::int32_t off;
    if (!OffsetAt(utcSeconds, &off)) return false;
    *localSeconds = utcSeconds + off;
    return true;
}

bool LocalToUtc(std::int64_t localSeconds, std::int64_t* utcSeconds, bool useCache) {
    Span s;
    if (useCache) {
        if (!CachedSpanForLocal(localSeconds, &s)) {
            if (!SpanForLocal(localSeconds, &s)) return false;
            t_cache.Add(s);
        }
        *utcSeconds = localSeconds - s.offset;
        return true;
    }
    // Without the cache: look a day either side of the instant; only when
    // the offset changes in between is the change located.
    std::int32_t guess, before, after;
    if (!OffsetAt(localSeconds, &guess)) return false;
    const std::int64_t u0 = localSeconds - guess;
    if (!OffsetAt(u0 - 86400, &before) || !OffsetAt(u0 + 86400, &after)) return false;
    if (before == after) {
        *utcSeconds = localSeconds - before;
        return true;
    }
    std::int64_t change;
    if (!FindChange(u0 - 86400, u0 + 86400, before, &change)) return false;
    *utcSeconds = localSeconds < change + before ? localSeconds - before : localSeconds - after;
    return true;
}

ZoneWatch::ZoneWatch(std::string zoneFile, Clock clock) : m_zoneFile(std::move(zoneFile)), m_clock(std::move(clock)) {
    if (!m_clock) {
        m_clock = [] {
            struct timespec ts;
            clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);  // no system call
            return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
        };
    }
}

ZoneWatch::FileId ZoneWatch::Identify() const {
    FileId id;
    struct stat st;
    if (::stat(m_zoneFile.c_str(), &st) != 0) return id;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

bool ZoneWatch::Due() {
    constexpr std::int64_t kLookEveryMs = 1000;
    const char* tz = std::getenv("TZ");
    const bool tzChanged = (tz != nullptr) != m_hadTz || (tz && std::strcmp(tz, m_tz.c_str()) != 0);
    if (tzChanged) {
        m_hadTz = tz != nullptr;
        m_tz = tz ? tz : "";
    }
    const std::int64_t now = m_clock();
    bool fileChanged = false;
    if (!m_started || now >= m_nextLook) {
        const FileId id = Identify();
        fileChanged = !(id == m_file);
        m_file = id;
        m_nextLook = now + kLookEveryMs;
    }
    const bool due = !m_started || tzChanged || fileChanged;
    m_started = true;
    return due;
}

// Howard Hinnant's civil-date algorithms.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* year, unsigned* month, unsigned* day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    *year = y + (m <= 2);
    *month = m;
    *day = d;
}

}  // namespace platform::tz
