/*
 * What a run of the preview leaves behind, a replayed trace or a scenario
 * alike: the daemon's polls and the temperature they read from.  Times are
 * microseconds from the run's start (seconds.h).
 */
#ifndef COOLRUNG_PREVIEW_RUN_H
#define COOLRUNG_PREVIEW_RUN_H

#include <cstdint>
#include <vector>

/* poll_event.index while the firmware runs the fan (the sensor was lost). */
constexpr int32_t HANDED_BACK = -1;

/*
 * poll_event.celsius of a read that failed.  The driver's -1 is a
 * temperature that was never read; here a failed read is a value of its own
 * that no reading takes (sensor_reading stops short of it).
 */
constexpr int32_t FAILED_READ = INT32_MIN;

struct poll_event {
	int64_t at;
	int32_t celsius;	/* the reading, or FAILED_READ */
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

/* A stretch of the run at one row, or with the firmware. */
struct level_stay {
	int32_t index;		/* the row, or HANDED_BACK */
	int64_t from;
	int64_t until;
};

/*
 * The stays one after the other, covering the run: the first at the row
 * the daemon starts at, from 0 (and no longer than that when the first poll
 * moves the row); each later one from a poll that changed the row; the last
 * until the run's end.
 */
std::vector<level_stay> level_stays(const run_record &run);

#endif
