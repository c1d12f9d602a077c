/*
 * coolrung-preview: what a level table would do, worked out with the
 * daemon's own stepping rules on a recorded trace or on a thermal model,
 * without touching a fan.  The pieces are free functions over plain
 * structs so the tests can drive each one in-process.
 */
#ifndef COOLRUNG_PREVIEW_H
#define COOLRUNG_PREVIEW_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "owned_file.h"
#include "step.h"

/* All times are whole microseconds: sums of poll intervals stay exact. */
constexpr int64_t MICROS = 1000000;

/* ---- the daemon's poll, free of the hardware (replay.cpp) ---- */

/* poll_event.index while the firmware runs the fan (the sensor was lost). */
constexpr int32_t HANDED_BACK = -1;

/*
 * One poll of the daemon's rules on a fan whose writes always succeed: a
 * reading, or a failed read (celsius null).  Returns the seconds to sleep.
 */
unsigned int preview_poll(control_state *state, const level_table *table,
    const int32_t *celsius);

/* poll_event.celsius of a failed read. */
constexpr int32_t NO_READING = INT32_MIN;

/* The row the fan runs at, or HANDED_BACK. */
int32_t fan_row(const control_state &state);

/* The reading the daemon would get for a temperature. */
int32_t sensor_reading(double celsius);

/* ---- what a run leaves behind ---- */

struct poll_event {
	int64_t at;		/* microseconds since the run's start */
	int32_t celsius;	/* the reading, or NO_READING */
	int32_t index;		/* the row after this reading, or HANDED_BACK */
};

/*
 * The temperature holds from a point's time until the next point's; NaN
 * where the sensor gave none.
 */
struct curve_point {
	int64_t at;
	double celsius;
};

struct run_record {
	std::vector<poll_event> polls;
	std::vector<curve_point> curve;
	int64_t end = 0;	/* the run covers 0 to end */
};

/* ---- input files (input.cpp) ---- */


/* Bytes a line of a trace or a model file may hold, its line end aside. */
constexpr int MAX_INPUT_LINE = 4096;

struct line_reader {
	FILE *file;
	const char *name;	/* heads the messages: "trace.csv:12: ..." */
	long long number;	/* of the line last read, from 1 */
	char text[MAX_INPUT_LINE + 1];
};

/*
 * Reads the next line into reader->text without its line end; false at the
 * end of the file.  A longer line, or one holding a NUL byte, is raised as a
 * fault of the file (EX_DATAERR), a read error as EX_IOERR.  Nothing is
 * allocated, so a file of any size reads in fixed memory.
 */
bool next_line(line_reader *reader);

/* ---- recorded traces (trace.cpp, replay.cpp) ---- */

struct trace_sample {
	int64_t at;		/* microseconds, as recorded */
	double celsius;		/* NaN for a failed read ("-") */
};

/*
 * Reads "seconds,celsius" lines; of samples at one instant only the last is
 * kept.  name heads the messages ("trace.csv:12: ...").  Faults are raised
 * as fatal_error with EX_DATAERR.
 */
std::vector<trace_sample> read_trace(FILE *file, const char *name);

/* Parses a non-negative decimal number of seconds; false if malformed. */
bool parse_seconds(const char *text, int64_t *micros);

/* Seconds as the shortest exact decimal: "12", "12.5", "0.000001". */
std::string format_seconds(int64_t micros);

/* The polls the daemon would make on the trace; times from its first sample. */
run_record replay_trace(const level_table *table,
    const std::vector<trace_sample> &trace);

/* ---- the thermal model (model.cpp) ---- */

struct model_params {
	double ambient;		/* C */
	double idle_rise;	/* C above ambient at no load, fan stopped */
	double load_rise;	/* C more at full load, fan stopped */
	double fan_cooling;	/* cooling each fan level adds, fan stopped = 1 */
	double time_constant;	/* s, with the fan stopped */
	double start;		/* C at time 0 */
	int64_t duration;	/* microseconds */
	uint64_t seed;		/* for the spikes */
	bool start_set;		/* start given, else ambient + idle_rise */
	bool duration_set;	/* duration given, else the scenario's own */
};

model_params default_model();

/* Reads "name = value" lines into *params; faults raised with EX_DATAERR. */
void read_model(FILE *file, const char *name, model_params *params);

/* Whether name is one of idle, compile, spiky, full. */
bool known_scenario(const char *name);

/* Whether a run of that length is one the model will make. */
bool valid_duration(int64_t micros);

/*
 * Fills in what was not given: the start at ambient + idle_rise, the
 * duration the scenario's own.  name must be a known scenario.
 */
void settle_model(model_params *params, const char *name);

/* The load, 0 to 1, for each whole second of the run. */
std::vector<double> scenario_load(const char *name, const model_params &params);

/* The temperature one second on, at a constant load and fan level. */
double model_step(const model_params &params, double celsius, double load,
    int32_t level_number, double seconds);

/* The closed loop: the model heats, the daemon's rules set the fan. */
run_record run_model(const level_table *table, const model_params &params,
    const std::vector<double> &load);

/* ---- the summary (summary.cpp) ---- */

struct stay {
	bool found;
	int64_t length;
	int32_t index;		/* or HANDED_BACK */
	int64_t from;
};

struct run_summary {
	std::vector<int64_t> row_time;	/* time at each row of the table */
	int64_t firmware_time;		/* handed back, the sensor lost */
	int changes;			/* of row, the first poll's too */
	double changes_per_hour;
	stay shortest;			/* between two changes */
	stay longest;			/* any, cut ones too */
	bool measured;			/* a temperature was known: peak, mean */
	double peak;
	double mean;
	int32_t top_min;
	int64_t above_top;		/* time above the top row's min */
	int64_t span;
	size_t polls;
};

run_summary summarize(const run_record &run, const level_table *table);

void print_summary(FILE *out, const run_summary &summary,
    const level_table *table, const char *title);

/* One line per poll: "seconds celsius level", "-" for none. */
void print_events(FILE *out, const run_record &run, const level_table *table);

/* ---- the picture (svg.cpp) ---- */

void write_svg(FILE *out, const run_record &run, const level_table *table,
    const char *title);

#endif
