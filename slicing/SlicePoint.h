#pragma once
// Slice points and the two tables that hold them.
//
// CandidateList holds every point the search found or the user placed; SlicePointList is derived
// from it at every redraw by the sensitivity threshold. Both share one layout: entry 0 is the start
// marker (position 0), entries 1..n the points in ascending position, entry n + 1 the end marker
// (position dataLength). The tables have fixed room (start marker, 8192 points, end marker), so
// their memory never depends on the sample.
//
// Threads: main thread, or the one running worker while the busy state is set.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cleavix::slicing {

// Channel codes. In stereo a point of the first channel sits on its frame start (code 2), a point
// of the second channel 2 bytes after it (code 1). Mono points have code 1.
inline constexpr uint8_t kCodeSecondOrMono = 1;
inline constexpr uint8_t kCodeFirst = 2;

// The 12-byte record, the same in memory and in the point file.
struct SlicePoint {
    uint32_t position = 0;
    int32_t strength = 0;
    uint8_t enabled = 0;
    uint8_t locked = 0;
    uint8_t channel = 0;
    uint8_t reserved = 0;

    bool operator==(const SlicePoint&) const = default;
};
static_assert(sizeof(SlicePoint) == 12);

inline constexpr int kMaxPoints = 8192;
inline constexpr int kTableEntries = kMaxPoints + 2;
inline constexpr size_t kPointRecordBytes = 12;

// Little-endian encoding of one record.
void encodePoint(const SlicePoint& point, uint8_t* out);
SlicePoint decodePoint(const uint8_t* in);

// The fixed table shared by both lists.
class PointTable {
public:
    PointTable();
    int count() const { return count_; }
    SlicePoint& at(int index) { return entries_.at(static_cast<size_t>(index)); }
    const SlicePoint& at(int index) const { return entries_.at(static_cast<size_t>(index)); }
    SlicePoint& endMarker() { return at(count_ + 1); }
    const SlicePoint& endMarker() const { return at(count_ + 1); }
    bool full() const { return count_ >= kMaxPoints; }

    // Appends after the last point (the end marker is not moved: call setMarkers afterwards).
    // Returns false when the table is full.
    bool append(const SlicePoint& point);
    // Inserts at index (1..n+1), moving the entries from it up by one (end marker included).
    bool insert(int index, const SlicePoint& point);
    // Removes entry index (1..n), moving the rest down.
    void remove(int index);
    void setCount(int count) { count_ = count; }
    // Start marker at 0 and end marker at dataLength, both not enabled.
    void setMarkers(uint32_t dataLength);
    // Stable sort of entries 1..n by position.
    void sortByPosition();

    const std::array<SlicePoint, kTableEntries>& entries() const { return entries_; }
    std::array<SlicePoint, kTableEntries>& entries() { return entries_; }

private:
    std::array<SlicePoint, kTableEntries> entries_{};
    int count_ = 0;
};

class CandidateList : public PointTable {
public:
    // Close and load: every entry's flags cleared, no points.
    void clearPoints();
};

class SlicePointList : public PointTable {
public:
    // The slice points in force: candidates that are enabled with a strength above the threshold,
    // and every locked candidate. A channel code of 0 is taken as 1.
    void rebuild(CandidateList& candidates, int64_t threshold, uint32_t dataLength);
};

// A snapshot of the candidate list, for undo of point edits, grid cuts, Re-cut and Randomise.
struct CandidateSnapshot {
    std::vector<SlicePoint> entries; // the first kMaxPoints + 1 entries
    int count = 0;
};

// Index k >= 1 of the first entry whose position is greater than x (n + 1 when none is).
int firstAfter(const PointTable& table, uint32_t x);

// The end of the segment that starts at slice point `index` (1..m, or 0 for the start): the
// position of the next point with the same channel code, or the end marker's.
uint32_t segmentEnd(const SlicePointList& list, int index);

// The number of slice points with L < position < R.
int CountPointsInLoop(const SlicePointList& list, uint32_t left, uint32_t right);

// The number of segments of one channel inside the loop. channelSelection: 1 first, 2 second
// (only read in unlinked stereo). Sets the end marker's code as the count needs it.
int CountSegmentsInLoop(SlicePointList& list, uint32_t left, uint32_t right, int channels, int channelSelection,
                        bool linked);

// Where a released locator goes: the nearer of the two slice points around `position` (the midpoint
// decides; exactly on it goes up). The left locator stays below `other`, the right above it.
uint32_t snapLocator(const SlicePointList& list, uint32_t position, bool isLeft, uint32_t other);

// Where a locator dragged by the user and dropped at `position` goes: the slice point nearest the
// drop (the earlier one when it lies exactly half-way). L only takes points 1..m whose frame
// (position rounded down to 4) lies before R's, so it never lands before the first point or on or
// after R; with no such point it goes to the sample start. R takes points 1..m and the end marker
// that lie after L.
uint32_t dropLocator(const SlicePointList& list, uint32_t position, bool isLeft, uint32_t other);

} // namespace cleavix::slicing
