/*
 * A small thermal model for the scenarios: one lump of heat that the load
 * warms and that leaks to the air, the faster the higher the fan runs.
 *
 *	dT/dt = (idle_rise + load_rise * load
 *	    - (1 + fan_cooling * level) * (T - ambient)) / time_constant
 *
 * It is no picture of a given laptop; it is there to show how a table
 * behaves against heat that answers to the fan, which a recorded trace
 * cannot.  See coolrung-preview(1).
 */
#include "model.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fatal.h"
#include "input.h"
#include "poll.h"
#include "seconds.h"

constexpr int64_t MAX_DURATION = int64_t{7} * 24 * 3600 * MICROS;
constexpr double IDLE_LOAD = 0.05;	/* a desktop doing nothing much */
constexpr double DESKTOP_LOAD = 0.10;
constexpr int64_t COMPILE_START = 60;	/* seconds of idle before the burst */
constexpr int64_t COMPILE_LENGTH = 600;
constexpr uint64_t SPIKE_ODDS = 30;	/* one spike in so many seconds */
constexpr int64_t SPIKE_SHORTEST = 2;
constexpr int64_t SPIKE_LONGEST = 15;

struct scenario {
	const char *name;
	int64_t seconds;	/* length when no duration is given */
};

static const scenario scenarios[] = {
	{"idle", 3600},
	{"compile", 1200},
	{"spiky", 3600},
	{"full", 3600},
};

/* A parameter of the model file and the values that make sense for it. */
struct parameter {
	const char *name;
	double model_params::*field;
	double lowest;
	double highest;
};

static const parameter parameters[] = {
	{"ambient", &model_params::ambient, -50, 100},
	{"idle_rise", &model_params::idle_rise, 0, 200},
	{"load_rise", &model_params::load_rise, 0, 200},
	{"fan_cooling", &model_params::fan_cooling, 0, 10},
	{"time_constant", &model_params::time_constant, 0.1, 100000},
	{"start", &model_params::start, -50, 300},
};

model_params
default_model()
{
	model_params params = {};

	params.ambient = 25;
	params.idle_rise = 15;
	params.load_rise = 70;
	params.fan_cooling = 0.15;
	params.time_constant = 60;
	params.seed = 1;
	return params;
}

static const scenario *
find_scenario(const char *name)
{
	for (const scenario &known : scenarios) {
		if (strcmp(known.name, name) == 0)
			return &known;
	}
	return nullptr;
}

bool
known_scenario(const char *name)
{
	return find_scenario(name) != nullptr;
}

void
settle_model(model_params *params, const char *scenario_name)
{
	if (!params->start_set)
		params->start = params->ambient + params->idle_rise;
	if (!params->duration_set)
		params->duration = find_scenario(scenario_name)->seconds * MICROS;
}

bool
valid_duration(int64_t micros)
{
	return micros > 0 && micros <= MAX_DURATION;
}

static bool
parse_number(const char *text, double *value)
{
	char *end;

	errno = 0;
	*value = strtod(text, &end);
	return end != text && *end == '\0' && errno == 0 &&
	    std::isfinite(*value);
}

static bool
parse_seed(const char *text, uint64_t *seed)
{
	char *end;

	errno = 0;
	*seed = strtoull(text, &end, 10);
	return isdigit(static_cast<unsigned char>(text[0])) && *end == '\0' &&
	    errno == 0;
}

static void
set_parameter(model_params *params, const char *key, const char *value,
    const char *name, long long line)
{
	double number;

	if (strcmp(key, "duration") == 0) {
		if (!parse_seconds(value, &params->duration) ||
		    !valid_duration(params->duration))
			fail(EX_DATAERR, "%s:%lld: bad duration: %s", name, line,
			    value);
		params->duration_set = true;
		return;
	}
	if (strcmp(key, "seed") == 0) {
		if (!parse_seed(value, &params->seed))
			fail(EX_DATAERR, "%s:%lld: bad seed: %s", name, line, value);
		return;
	}
	for (const parameter &known : parameters) {
		if (strcmp(key, known.name) != 0)
			continue;
		if (!parse_number(value, &number) || number < known.lowest ||
		    number > known.highest)
			fail(EX_DATAERR, "%s:%lld: %s must be a number from %g "
			    "to %g", name, line, key, known.lowest,
			    known.highest);
		params->*known.field = number;
		params->start_set |= strcmp(key, "start") == 0;
		return;
	}
	fail(EX_DATAERR, "%s:%lld: unknown parameter: %s", name, line, key);
}

void
read_model(FILE *file, const char *name, model_params *params)
{
	line_reader lines{file, name, 0, {}};

	while (next_line(&lines)) {
		char *key = trimmed(lines.text);
		if (*key == '\0' || *key == '#')
			continue;
		char *equals = strchr(key, '=');
		if (equals == nullptr)
			fail(EX_DATAERR, "%s:%lld: expected name = value", name,
			    lines.number);
		*equals = '\0';
		set_parameter(params, trimmed(key), trimmed(equals + 1), name,
		    lines.number);
	}
}

/* splitmix64: the same numbers from a seed on every system. */
static uint64_t
next_random(uint64_t *state)
{
	uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);

	z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
	z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
	return z ^ (z >> 31);
}

/* A number from 0 up to, not including, 1. */
static double
random_fraction(uint64_t *state)
{
	return static_cast<double>(next_random(state) >> 11) * 0x1.0p-53;
}

static void
add_spikes(std::vector<double> *load, uint64_t seed)
{
	uint64_t state = seed;
	size_t second = 0;

	while (second < load->size()) {
		if (next_random(&state) % SPIKE_ODDS != 0) {
			second++;
			continue;
		}
		int64_t length = SPIKE_SHORTEST + static_cast<int64_t>(
		    next_random(&state) % (SPIKE_LONGEST - SPIKE_SHORTEST + 1));
		double height = 0.5 + 0.5 * random_fraction(&state);
		for (int64_t i = 0; i < length && second < load->size(); i++)
			(*load)[second++] = height;
	}
}

std::vector<double>
scenario_load(const char *name, const model_params &params)
{
	size_t seconds = static_cast<size_t>(
	    (params.duration + MICROS - 1) / MICROS);
	std::vector<double> load(seconds, IDLE_LOAD);

	if (strcmp(name, "full") == 0) {
		load.assign(seconds, 1.0);
	} else if (strcmp(name, "compile") == 0) {
		for (size_t s = COMPILE_START; s < seconds &&
		    s < COMPILE_START + COMPILE_LENGTH; s++)
			load[s] = 1.0;
	} else if (strcmp(name, "spiky") == 0) {
		load.assign(seconds, DESKTOP_LOAD);
		add_spikes(&load, params.seed);
	}
	return load;
}

double
model_step(const model_params &params, double celsius, double load,
    int32_t level_number, double seconds)
{
	double cooling = 1 + params.fan_cooling * level_number;
	double settled = params.ambient +
	    (params.idle_rise + params.load_rise * load) / cooling;

	/* Exact for a constant load and level, so the step can be long. */
	return settled + (celsius - settled) *
	    exp(-cooling * seconds / params.time_constant);
}

run_record
run_model(const level_table *table, const model_params &params,
    const std::vector<double> &load)
{
	run_record run;
	control_state state = control_start();
	double celsius = params.start;
	int64_t next_poll = 0;

	run.end = params.duration;
	run.curve.reserve(load.size() + 1);
	for (int64_t at = 0;;) {
		if (at == next_poll) {
			int32_t reading = sensor_reading(celsius);
			unsigned int seconds = preview_poll(&state, table,
			    &reading);
			run.polls.push_back(poll_event{at, reading,
			    fan_row(state)});
			next_poll += static_cast<int64_t>(seconds) * MICROS;
		}
		run.curve.push_back(curve_point{at, celsius});
		if (at >= run.end)
			break;
		/* Whole seconds: the polls and the load change only there. */
		int64_t until = at + MICROS < run.end ? at + MICROS : run.end;
		celsius = model_step(params, celsius,
		    load[static_cast<size_t>(at / MICROS)],
		    table->entries[state.row].level_number,
		    static_cast<double>(until - at) / MICROS);
		at = until;
	}
	return run;
}
