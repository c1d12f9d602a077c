/*
 * Seconds as a trace, a model file and the command line write them, and as
 * the summary and the events print them.
 */
#include "seconds.h"

#include <cctype>
#include <cstdio>

constexpr int SECONDS_DIGITS = 12;	/* keeps microseconds inside int64_t */
constexpr int FRACTION_DIGITS = 6;	/* microseconds; finer is cut */

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
