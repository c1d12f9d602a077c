/*
 * Recorded traces: one "seconds,celsius" sample a line, as a shell loop
 * reading the thermal node writes them.  A fault names the file and the
 * line, so a long recording can be mended by hand.
 */
#include "preview.h"

#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "fatal.h"

constexpr int SECONDS_DIGITS = 12;	/* keeps microseconds inside int64_t */
constexpr int FRACTION_DIGITS = 6;	/* microseconds; finer is cut */
constexpr int CELSIUS_DIGITS = 9;	/* keeps the reading inside int32_t */
/* Beyond this a slip in the times would replay for ages. */
constexpr int64_t MAX_SPAN_DAYS = 31;
constexpr int64_t MAX_SPAN = MAX_SPAN_DAYS * 24 * 3600 * MICROS;

struct trace_reader {
	const char *name;
	int line;
	bool content_seen;	/* a header may only come first */
	std::vector<trace_sample> samples;
};

static const char *
skip_space(const char *text)
{
	while (*text == ' ' || *text == '\t')
		text++;
	return text;
}

/* Cuts blanks and the line end, "\r\n" too, off the end of text. */
static void
trim_end(char *text)
{
	size_t length = strlen(text);

	while (length > 0 && strchr(" \t\r\n", text[length - 1]) != nullptr)
		text[--length] = '\0';
}

bool
parse_seconds(const char *text, int64_t *micros)
{
	int64_t whole = 0, fraction = 0;
	int digits = 0, fraction_digits = 0;

	for (; isdigit(static_cast<unsigned char>(*text)); text++) {
		if (++digits > SECONDS_DIGITS)
			return false;
		whole = whole * 10 + (*text - '0');
	}
	if (*text == '.') {
		for (text++; isdigit(static_cast<unsigned char>(*text)); text++) {
			if (fraction_digits++ < FRACTION_DIGITS)
				fraction = fraction * 10 + (*text - '0');
		}
	}
	if (*text != '\0' || digits + fraction_digits == 0)
		return false;
	for (; fraction_digits < FRACTION_DIGITS; fraction_digits++)
		fraction *= 10;
	*micros = whole * MICROS + fraction;
	return true;
}

std::string
format_seconds(int64_t micros)
{
	char text[48];
	const char *sign = micros < 0 ? "-" : "";
	uint64_t magnitude = micros < 0 ? 0 - static_cast<uint64_t>(micros) :
	    static_cast<uint64_t>(micros);
	uint64_t fraction = magnitude % MICROS;
	int places = FRACTION_DIGITS;

	if (fraction == 0) {
		snprintf(text, sizeof(text), "%s%llu", sign,
		    static_cast<unsigned long long>(magnitude / MICROS));
		return text;
	}
	while (fraction % 10 == 0) {
		fraction /= 10;
		places--;
	}
	snprintf(text, sizeof(text), "%s%llu.%0*llu", sign,
	    static_cast<unsigned long long>(magnitude / MICROS), places,
	    static_cast<unsigned long long>(fraction));
	return text;
}

/* An optional sign, whole degrees, an optional fraction. */
static bool
parse_celsius(const char *text, double *celsius)
{
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
	line = skip_space(line);
	if (*line == '\0' || *line == '#')
		return true;
	if (!reader->content_seen) {
		reader->content_seen = true;
		return isalpha(static_cast<unsigned char>(*line)) != 0;
	}
	return false;
}

static void
read_sample(trace_reader *reader, char *line)
{
	char *comma = strchr(line, ',');
	trace_sample sample;

	if (comma == nullptr || strchr(comma + 1, ',') != nullptr)
		fail(EXIT_DATA, "%s:%d: expected seconds,celsius", reader->name,
		    reader->line);
	*comma = '\0';
	trim_end(line);
	const char *seconds = skip_space(line);
	const char *celsius = skip_space(comma + 1);
	if (!parse_seconds(seconds, &sample.at))
		fail(EXIT_DATA, "%s:%d: bad time: %s", reader->name,
		    reader->line, seconds);
	if (!parse_celsius(celsius, &sample.celsius))
		fail(EXIT_DATA, "%s:%d: bad temperature: %s", reader->name,
		    reader->line, celsius);
	if (!reader->samples.empty() && sample.at < reader->samples.back().at)
		fail(EXIT_DATA, "%s:%d: out of time order: %s after %s",
		    reader->name, reader->line,
		    format_seconds(sample.at).c_str(),
		    format_seconds(reader->samples.back().at).c_str());
	if (!reader->samples.empty() &&
	    sample.at - reader->samples.front().at > MAX_SPAN)
		fail(EXIT_DATA, "%s:%d: more than %lld days after the first "
		    "sample", reader->name, reader->line,
		    static_cast<long long>(MAX_SPAN_DAYS));
	reader->samples.push_back(sample);
}

std::vector<trace_sample>
read_trace(FILE *file, const char *name)
{
	trace_reader reader{name, 0, false, {}};
	char *line = nullptr;
	size_t size = 0;

	try {
		while (getline(&line, &size, file) != -1) {
			reader.line++;
			trim_end(line);
			if (!is_skipped(&reader, line))
				read_sample(&reader, line);
		}
		if (ferror(file))
			fail_with(EXIT_IO, errno, "%s", name);
		if (reader.samples.empty())
			fail(EXIT_DATA, "%s: no samples", name);
	} catch (...) {
		free(line);
		throw;
	}
	free(line);
	return reader.samples;
}
