/*
 * The figures of a run on the standard output: the summary, or one line
 * per poll for other programs.
 */
#ifndef COOLRUNG_PREVIEW_SUMMARY_H
#define COOLRUNG_PREVIEW_SUMMARY_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "config.h"
#include "run.h"

/* The shortest or the longest stay the summary has found. */
struct kept_stay {
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
	kept_stay shortest;		/* between two changes */
	kept_stay longest;		/* any, cut ones too */
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

#endif
