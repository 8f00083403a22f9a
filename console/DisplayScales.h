// How the main window shows the unit's raw values.
//
// Trims travel in steps of 0.5 dB (input 0-36: 0 to +18 dB; output 0-40: 0 to
// -20 dB) and are shown from tenths of a dB; delays are whole milliseconds;
// levels are raw 12-bit readings shown on a 0-60 meter scale.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <QString>

namespace console {

// Tenths of a dB as text: 180 -> "18.0dB", 5 -> "0.5dB", 0 -> "0.0dB",
// -5 -> "-0.5dB", -200 -> "-20.0dB".
QString trimText(int tenths);
// "%dms".
QString delayText(int milliseconds);

// The meter position (0-60) of one level reading: ln(v) x 8.2667 + 3.1969,
// clamped to 0-60 (a reading of 0 or less gives 0) and truncated toward zero.
// The two extra channels show nothing (0) below `exThreshold`.
int meterPosition(long level, bool extraChannel, double exThreshold);

}  // namespace console
