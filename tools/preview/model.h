/*
 * The thermal model the scenarios run on, and the closed loop in which the
 * daemon's rules set its fan.
 */
#ifndef COOLRUNG_PREVIEW_MODEL_H
#define COOLRUNG_PREVIEW_MODEL_H

#include <cstdint>
#include <cstdio>
#include <vector>

#include "config.h"
#include "run.h"

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

#endif
