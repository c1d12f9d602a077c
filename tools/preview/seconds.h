/*
 * Times in the preview are whole microseconds: sums of poll intervals stay
 * exact, and a trace's times are read to the microsecond.
 */
#ifndef COOLRUNG_PREVIEW_SECONDS_H
#define COOLRUNG_PREVIEW_SECONDS_H

#include <cstdint>
#include <string>

constexpr int64_t MICROS = 1000000;

/* Parses a non-negative decimal number of seconds; false if malformed. */
bool parse_seconds(const char *text, int64_t *micros);

/* Seconds as the shortest exact decimal: "12", "12.5", "0.000001". */
std::string format_seconds(int64_t micros);

#endif
