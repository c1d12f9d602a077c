/*
 * Recorded traces: one "seconds,celsius" sample a line, as a shell loop
 * reading the thermal node writes them.  A fault names the file and the
 * line, so a long recording can be mended by hand.
 */
#include "trace.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "fatal.h"
#include "input.h"
#include "seconds.h"

constexpr int CELSIUS_DIGITS = 9;	/* keeps the reading inside int32_t */
/* Beyond this a slip in the times would replay for ages. */
constexpr int64_t MAX_SPAN_DAYS = 31;
constexpr int64_t MAX_SPAN = MAX_SPAN_DAYS * 24 * 3600 * MICROS;

struct trace_reader {
	const line_reader *lines;
	bool content_seen;	/* a header may only come first */
	std::vector<trace_sample> samples;
};

/*
 * An optional sign, whole degrees, an optional fraction; or "-", a read
 * that failed (NaN).
 */
static bool
parse_celsius(const char *text, double *celsius)
{
	if (strcmp(text, "-") == 0) {
		*celsius = NAN;
		return true;
	}
	bool negative = *text == '-';
	double value = 0, scale = 1;
	int digits = 0, fraction_digits = 0;

	if (*text == '-' || *text == '+')
		text++;
	for (; isdigit(static_cast<unsigned char>(*text)); text++) {
		if (++digits > CELSIUS_DIGITS)
			return false;
		value = value * 10 + (*text - '0');
	}
	if (*text == '.') {
		for (text++; isdigit(static_cast<unsigned char>(*text)); text++) {
			scale /= 10;
			value += (*text - '0') * scale;
			fraction_digits++;
		}
	}
	if (*text != '\0' || digits + fraction_digits == 0)
		return false;
	*celsius = negative ? -value : value;
	return true;
}

/* Blank lines, comments and a first line of column names carry nothing. */
static bool
is_skipped(trace_reader *reader, const char *line)
{
	if (*line == '\0' || *line == '#')
		return true;
	if (!reader->content_seen) {
		reader->content_seen = true;
		return isalpha(static_cast<unsigned char>(*line)) != 0;
	}
	return false;
}

/* Appends the sample; one at the instant of the last replaces it. */
static void
keep_sample(trace_reader *reader, const trace_sample &sample)
{
	const char *name = reader->lines->name;
	long long line = reader->lines->number;
	std::vector<trace_sample> &samples = reader->samples;

	if (!samples.empty() && sample.at < samples.back().at)
		fail(EX_DATAERR, "%s:%lld: out of time order: %s after %s", name,
		    line, format_seconds(sample.at).c_str(),
		    format_seconds(samples.back().at).c_str());
	if (!samples.empty() && sample.at - samples.front().at > MAX_SPAN)
		fail(EX_DATAERR, "%s:%lld: more than %lld days after the first "
		    "sample", name, line, static_cast<long long>(MAX_SPAN_DAYS));
	/*
	 * Only the last of one instant is the one a read at that instant
	 * would see; the rest need no room, and the replay takes one sample
	 * an instant.
	 */
	if (!samples.empty() && sample.at == samples.back().at)
		samples.back() = sample;
	else
		samples.push_back(sample);
}

static void
read_sample(trace_reader *reader, char *line)
{
	const char *name = reader->lines->name;
	long long number = reader->lines->number;
	char *comma = strchr(line, ',');
	trace_sample sample;

	if (comma == nullptr || strchr(comma + 1, ',') != nullptr)
		fail(EX_DATAERR, "%s:%lld: expected seconds,celsius", name,
		    number);
	*comma = '\0';
	const char *seconds = trimmed(line);
	const char *celsius = trimmed(comma + 1);
	if (!parse_seconds(seconds, &sample.at))
		fail(EX_DATAERR, "%s:%lld: bad time: %s", name, number, seconds);
	if (!parse_celsius(celsius, &sample.celsius))
		fail(EX_DATAERR, "%s:%lld: bad temperature: %s", name, number,
		    celsius);
	keep_sample(reader, sample);
}

std::vector<trace_sample>
read_trace(FILE *file, const char *name)
{
	line_reader lines{file, name, 0, {}};
	trace_reader reader{&lines, false, {}};

	while (next_line(&lines)) {
		char *line = trimmed(lines.text);
		if (!is_skipped(&reader, line))
			read_sample(&reader, line);
	}
	if (reader.samples.empty())
		fail(EX_DATAERR, "%s: no samples", name);
	return reader.samples;
}
