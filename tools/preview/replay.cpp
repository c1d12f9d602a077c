/*
 * The daemon's poll without the hardware, and a trace replayed through it.
 * The rules are the daemon's own (step.h); only the writes are left out.
 */
#include "preview.h"

#include <cmath>

unsigned int
preview_poll(control_state *state, const level_table *table,
    const int32_t *celsius)
{
	poll_plan plan = plan_poll(*state, table, celsius, true);

	(void)record_poll(state, plan, poll_outcome::done);
	return plan.seconds;
}

int32_t
fan_row(const control_state &state)
{
	return state.taken ? state.row : HANDED_BACK;
}

/*
 * Whole degrees, cut toward zero as the daemon's deci-kelvin conversion
 * does.  The readers keep temperatures far inside int32_t; the clamp only
 * keeps the conversion defined.
 */
int32_t
sensor_reading(double celsius)
{
	if (!(celsius > INT32_MIN))
		return INT32_MIN;
	if (!(celsius < INT32_MAX))
		return INT32_MAX;
	return static_cast<int32_t>(celsius);
}

/*
 * The trace's first sample is time 0.  Samples of one instant leave only
 * the last: it is the one a read at that instant would see.
 */
static std::vector<curve_point>
curve_of(const std::vector<trace_sample> &trace)
{
	std::vector<curve_point> curve;
	int64_t origin = trace.front().at;

	curve.reserve(trace.size());
	for (const trace_sample &sample : trace) {
		curve_point point{sample.at - origin, sample.celsius};
		if (!curve.empty() && curve.back().at == point.at)
			curve.back() = point;
		else
			curve.push_back(point);
	}
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
		int32_t celsius = failed ? NO_READING : sensor_reading(sample);
		unsigned int seconds = preview_poll(&state, table,
		    failed ? nullptr : &celsius);
		run.polls.push_back(poll_event{at, celsius, fan_row(state)});
		at += static_cast<int64_t>(seconds) * MICROS;
	}
	return run;
}
