#pragma once

// How assistive technology sees the seek bar: a slider whose value is the
// position in seconds (0 to the duration, in steps of the seek keys), read
// out as "elapsed / duration", which a value set by the reader seeks to.
namespace seek_bar_accessible {

// Makes Qt's accessibility use this description for every SeekBar; safe to
// call again.
void Install();

}  // namespace seek_bar_accessible
