#pragma once
// Choice of the record volume: recordings of all cameras go to one volume at
// a time; when it is full, recording moves to another volume with room (or
// one without records), else ring cleaning frees the oldest hour.

class Volume;

// A volume is full for recording when it is mounted and its free megabytes
// are 0 or at most its kind's threshold; an unmounted volume is never full.
bool IsRecordVolumeFull(Volume& volume);
