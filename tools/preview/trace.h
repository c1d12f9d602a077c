/*
 * Recorded traces: read from a file (trace.cpp) and replayed as the daemon
 * would have polled them (replay.cpp).
 */
#ifndef COOLRUNG_PREVIEW_TRACE_H
#define COOLRUNG_PREVIEW_TRACE_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "config.h"
#include "run.h"

struct trace_sample {
	int64_t at;		/* microseconds, as recorded */
	double celsius;		/* NaN for a failed read ("-") */
};

/*
 * Reads "seconds,celsius" lines: the samples in time order, of samples at
 * one instant only the last.  name heads the messages ("trace.csv:12:
 * ...").  Faults are raised as fatal_error with EX_DATAERR.
 */
std::vector<trace_sample> read_trace(FILE *file, const char *name);

/*
 * The polls the daemon would make on a trace as read_trace gives it; times
 * from its first sample.
 */
run_record replay_trace(const level_table *table,
    const std::vector<trace_sample> &trace);

#endif
