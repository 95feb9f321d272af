#ifndef NUMERICS_WAIT_SECONDS_H
#define NUMERICS_WAIT_SECONDS_H

// Waits until the wall clock (whole seconds) shows more than the second in
// which it was called plus n: between n and n + 1 seconds. The clock is
// checked every few milliseconds; the process sleeps in between.
void wait_seconds(long n);

#endif
