/*
 * The figures an administrator weighs a table by: where the fan spends its
 * time, how often it changes (a table that hunts is heard), how hot it got.
 */
#include "summary.h"

#include <cmath>
#include <string>

#include "seconds.h"

constexpr int64_t HOUR = 3600 * MICROS;
constexpr int64_t SHOWN_PRECISION = MICROS / 10;

/* Each poll's row holds until the next poll, the last one's to the end. */
static void
add_row_times(const run_record &run, run_summary *summary)
{
	for (size_t i = 0; i < run.polls.size(); i++) {
		int64_t until = i + 1 < run.polls.size() ? run.polls[i + 1].at :
		    run.end;
		int64_t time = until - run.polls[i].at;
		if (run.polls[i].index == HANDED_BACK)
			summary->firmware_time += time;
		else
			summary->row_time[static_cast<size_t>(
			    run.polls[i].index)] += time;
	}
}

static void
consider_stay(kept_stay *kept, bool shortest, const level_stay &stay)
{
	int64_t length = stay.until - stay.from;

	if (kept->found && (shortest ? length >= kept->length :
	    length <= kept->length))
		return;
	*kept = kept_stay{true, length, stay.index, stay.from};
}

/*
 * A stay cut by the start or the end of the run says nothing about how
 * short a stay gets, but a cut one is at least as long as shown.
 */
static void
add_stays(const run_record &run, run_summary *summary)
{
	std::vector<level_stay> stays = level_stays(run);

	summary->changes = static_cast<int>(stays.size() - 1);
	for (size_t i = 0; i < stays.size(); i++) {
		if (i > 0 && i + 1 < stays.size())
			consider_stay(&summary->shortest, true, stays[i]);
		consider_stay(&summary->longest, false, stays[i]);
	}
}

/*
 * A point's temperature holds until the next point, the last one's to the
 * end; a point of no temperature (a failed read) counts for nothing.
 */
static void
add_temperatures(const run_record &run, run_summary *summary)
{
	double weighted = 0, last = 0;
	int64_t known = 0;

	for (size_t i = 0; i < run.curve.size(); i++) {
		const curve_point &point = run.curve[i];
		int64_t until = i + 1 < run.curve.size() ? run.curve[i + 1].at :
		    run.end;
		if (std::isnan(point.celsius))
			continue;
		if (!summary->measured || point.celsius > summary->peak)
			summary->peak = point.celsius;
		summary->measured = true;
		weighted += point.celsius * static_cast<double>(until - point.at);
		known += until - point.at;
		last = point.celsius;
		if (point.celsius > summary->top_min)
			summary->above_top += until - point.at;
	}
	summary->mean = known > 0 ? weighted / static_cast<double>(known) : last;
}

run_summary
summarize(const run_record &run, const level_table *table)
{
	run_summary summary = {};

	summary.row_time.assign(static_cast<size_t>(table->count), 0);
	summary.top_min = table->entries[table->count - 1].min;
	summary.span = run.end;
	summary.polls = run.polls.size();
	add_row_times(run, &summary);
	add_stays(run, &summary);
	add_temperatures(run, &summary);
	if (summary.span > 0)
		summary.changes_per_hour = static_cast<double>(summary.changes) *
		    HOUR / static_cast<double>(summary.span);
	return summary;
}

/* Times to a tenth of a second: the polls are whole seconds apart. */
static std::string
shown(int64_t micros)
{
	int64_t rounded = (micros + SHOWN_PRECISION / 2) / SHOWN_PRECISION *
	    SHOWN_PRECISION;

	return format_seconds(rounded) + " s";
}

static double
share(int64_t part, int64_t whole)
{
	return whole > 0 ? 100.0 * static_cast<double>(part) /
	    static_cast<double>(whole) : 0;
}

static void
print_stay(FILE *out, const char *what, const kept_stay &kept,
    const level_table *table)
{
	if (!kept.found) {
		fprintf(out, "%s: none (fewer than two changes)\n", what);
		return;
	}
	if (kept.index == HANDED_BACK)
		fprintf(out, "%s: %s with the firmware, from %s\n", what,
		    shown(kept.length).c_str(), shown(kept.from).c_str());
	else
		fprintf(out, "%s: %s at level %d, from %s\n", what,
		    shown(kept.length).c_str(),
		    table->entries[kept.index].level_number,
		    shown(kept.from).c_str());
}

void
print_summary(FILE *out, const run_summary &summary, const level_table *table,
    const char *title)
{
	fprintf(out, "%s\n", title);
	fprintf(out, "run: %s, %zu polls\n", shown(summary.span).c_str(),
	    summary.polls);
	fprintf(out, "level  range      time        share\n");
	for (int32_t i = 0; i < table->count; i++) {
		const level_entry &row = table->entries[i];
		int64_t time = summary.row_time[static_cast<size_t>(i)];
		fprintf(out, "%5d  %3d-%-5d  %-10s  %5.1f%%\n", row.level_number,
		    row.min, row.max, shown(time).c_str(),
		    share(time, summary.span));
	}
	if (summary.firmware_time > 0)
		fprintf(out, "%-18s%-10s  %5.1f%%\n", "firmware",
		    shown(summary.firmware_time).c_str(),
		    share(summary.firmware_time, summary.span));
	fprintf(out, "level changes: %d (%.1f an hour)\n", summary.changes,
	    summary.changes_per_hour);
	print_stay(out, "shortest stay", summary.shortest, table);
	print_stay(out, "longest stay", summary.longest, table);
	if (summary.measured) {
		fprintf(out, "peak temperature: %.1f C\n", summary.peak);
		fprintf(out, "mean temperature: %.1f C\n", summary.mean);
	} else {
		fprintf(out, "peak temperature: none read\n");
		fprintf(out, "mean temperature: none read\n");
	}
	fprintf(out, "above %d C (top row's min): %s (%.1f%%)\n",
	    summary.top_min, shown(summary.above_top).c_str(),
	    share(summary.above_top, summary.span));
}

void
print_events(FILE *out, const run_record &run, const level_table *table)
{
	for (const poll_event &poll : run.polls) {
		fprintf(out, "%s ", format_seconds(poll.at).c_str());
		if (poll.celsius == FAILED_READ)
			fprintf(out, "- ");
		else
			fprintf(out, "%d ", poll.celsius);
		if (poll.index == HANDED_BACK)
			fprintf(out, "-\n");
		else
			fprintf(out, "%d\n",
			    table->entries[poll.index].level_number);
	}
}
