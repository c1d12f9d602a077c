/*
 * The daemon's poll loop without the hardware, and a trace replayed through
 * it.  daemon_poll() must stay the body of run_control_loop() in
 * src/loop.cpp minus the sysctl calls: the preview is only worth something
 * while it steps as the daemon does.
 */
#include "preview.h"

#include "step.h"

daemon_state
daemon_start()
{
	/* set_fan_mode() runs the fan at the first row before any reading. */
	return daemon_state{0, 0};
}

unsigned int
daemon_poll(daemon_state *state, const level_table *table, int32_t celsius)
{
	unsigned int seconds;

	state->index = next_level_index(table, state->index, celsius);
	seconds = poll_interval(state->previous, celsius);
	state->previous = celsius;
	return seconds;
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
	daemon_state state = daemon_start();
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
		int32_t celsius = sensor_reading(run.curve[latest].celsius);
		unsigned int seconds = daemon_poll(&state, table, celsius);
		run.polls.push_back(poll_event{at, celsius, state.index});
		at += static_cast<int64_t>(seconds) * MICROS;
	}
	return run;
}
