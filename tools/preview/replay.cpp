/*
 * A trace replayed through the daemon's poll: each poll reads the latest
 * sample at or before its time and sleeps as the daemon would.
 */
#include "trace.h"

#include <cmath>

#include "poll.h"
#include "seconds.h"

/* The trace's first sample is time 0. */
static std::vector<curve_point>
curve_of(const std::vector<trace_sample> &trace)
{
	std::vector<curve_point> curve;
	int64_t origin = trace.front().at;

	curve.reserve(trace.size());
	for (const trace_sample &sample : trace)
		curve.push_back(curve_point{sample.at - origin, sample.celsius});
	return curve;
}

run_record
replay_trace(const level_table *table, const std::vector<trace_sample> &trace)
{
	run_record run;
	control_state state = control_start();
	size_t latest = 0;

	if (trace.empty())
		return run;
	run.curve = curve_of(trace);
	run.end = run.curve.back().at;
	for (int64_t at = 0; at <= run.end;) {
		/* The latest sample at or before the poll. */
		while (latest + 1 < run.curve.size() &&
		    run.curve[latest + 1].at <= at)
			latest++;
		/* A sample of no temperature (NaN) is a failed read. */
		double sample = run.curve[latest].celsius;
		bool failed = std::isnan(sample);
		int32_t celsius = failed ? FAILED_READ : sensor_reading(sample);
		unsigned int seconds = preview_poll(&state, table,
		    failed ? nullptr : &celsius);
		run.polls.push_back(poll_event{at, celsius, fan_row(state)});
		at += static_cast<int64_t>(seconds) * MICROS;
	}
	return run;
}
