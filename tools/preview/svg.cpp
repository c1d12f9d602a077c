/*
 * The run as a picture: the temperature over the table's rows, drawn as
 * bands so the overlaps show, and the fan level underneath.  Plain SVG,
 * written by hand: any browser shows it and it diffs as text.
 */
#include "svg.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "seconds.h"

constexpr double WIDTH = 960;
constexpr double HEIGHT = 540;
constexpr double LEFT = 64;		/* room for the temperature labels */
constexpr double RIGHT = 24;
constexpr double PLOT_WIDTH = WIDTH - LEFT - RIGHT;
constexpr double HEAT_TOP = 44;
constexpr double HEAT_HEIGHT = 320;
constexpr double FAN_TOP = 392;
constexpr double FAN_HEIGHT = 100;
constexpr double MARGIN_CELSIUS = 5;	/* around the hottest and coolest */
constexpr int MAX_TICKS = 10;
constexpr double NO_READING_LOW = 30;	/* the range of a run with none */
constexpr double NO_READING_HIGH = 80;
constexpr double FIRMWARE_LABEL_WIDTH = 60;

/* Cool to hot, one colour a fan level. */
static const char *const level_colours[LEVEL_LIMIT] = {
	"#2b83ba", "#5aa5b4", "#8cc7a5", "#c1e39c",
	"#f3e08f", "#fdae61", "#f07c4a", "#d7191c",
};

struct frame {
	double end;	/* seconds the plot spans */
	double coolest;	/* celsius at the bottom of the upper panel */
	double hottest;
};

static double
x_of(const frame &box, int64_t at)
{
	return LEFT + PLOT_WIDTH * (static_cast<double>(at) / MICROS) / box.end;
}

static double
y_of(const frame &box, double celsius)
{
	double fraction = (celsius - box.coolest) / (box.hottest - box.coolest);

	return HEAT_TOP + HEAT_HEIGHT * (1 - std::clamp(fraction, 0.0, 1.0));
}

static double
y_of_level(int32_t level_number)
{
	return FAN_TOP + FAN_HEIGHT * (1 - level_number / (LEVEL_LIMIT - 1.0));
}

/*
 * The length of the UTF-8 sequence at text that XML takes as a character,
 * or 0: overlong forms, surrogates, U+FFFE, U+FFFF and what lies beyond
 * U+10FFFF are not.
 */
static int
utf8_length(const unsigned char *text)
{
	int length = text[0] >= 0xf8 ? 0 : text[0] >= 0xf0 ? 4 :
	    text[0] >= 0xe0 ? 3 : text[0] >= 0xc0 ? 2 : 0;
	uint32_t code = text[0] & (0x7f >> length);

	for (int i = 1; i < length; i++) {
		if ((text[i] & 0xc0) != 0x80)
			return 0;
		code = code << 6 | (text[i] & 0x3f);
	}
	static const uint32_t lowest[] = {0, 0, 0x80, 0x800, 0x10000};
	if (length == 0 || code < lowest[length] || code > 0x10ffff ||
	    (code >= 0xd800 && code <= 0xdfff) || code == 0xfffe ||
	    code == 0xffff)
		return 0;
	return length;
}

/*
 * Text for an XML document whatever bytes a file name holds: the markup
 * characters as entities; control bytes, which XML mostly refuses and a
 * one-line title cannot show, and the backslash as C escapes; a byte that
 * begins no UTF-8 character as U+FFFD.
 */
static std::string
escaped(const char *text)
{
	std::string out;
	char code[8];

	for (const auto *at = reinterpret_cast<const unsigned char *>(text);
	    *at != '\0';) {
		switch (*at) {
		case '&': out += "&amp;"; break;
		case '<': out += "&lt;"; break;
		case '>': out += "&gt;"; break;
		case '"': out += "&quot;"; break;
		case '\\': out += "\\\\"; break;
		default:
			if (*at < 0x20 || *at == 0x7f) {
				snprintf(code, sizeof(code), "\\x%02x", *at);
				out += code;
			} else if (*at < 0x80) {
				out += static_cast<char>(*at);
			} else if (int length = utf8_length(at); length > 0) {
				out.append(reinterpret_cast<const char *>(at),
				    static_cast<size_t>(length));
				at += length;
				continue;
			} else {
				out += "\xef\xbf\xbd";	/* U+FFFD */
			}
		}
		at++;
	}
	return out;
}

/* Around the temperatures read; a run with none read gets a plain range. */
static frame
frame_of(const run_record &run)
{
	frame box = {std::max(static_cast<double>(run.end) / MICROS, 1.0), 0, 0};
	double low = NAN, high = NAN;

	for (const curve_point &point : run.curve) {
		low = std::fmin(low, point.celsius);
		high = std::fmax(high, point.celsius);
	}
	if (std::isnan(low)) {
		low = NO_READING_LOW;
		high = NO_READING_HIGH;
	}
	box.coolest = std::floor((low - MARGIN_CELSIUS) / 5) * 5;
	box.hottest = std::ceil((high + MARGIN_CELSIUS) / 5) * 5;
	return box;
}

static void
draw_bands(FILE *out, const frame &box, const level_table *table)
{
	for (int32_t i = 0; i < table->count; i++) {
		const level_entry &row = table->entries[i];
		if (row.max < box.coolest || row.min > box.hottest)
			continue;
		double top = y_of(box, row.max), bottom = y_of(box, row.min);
		fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
		    "height=\"%.1f\" fill=\"%s\" fill-opacity=\"0.22\"/>\n",
		    LEFT, top, PLOT_WIDTH, bottom - top,
		    level_colours[row.level_number]);
		fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" "
		    "text-anchor=\"end\" fill=\"#555\">level %d: %d-%d</text>\n",
		    WIDTH - RIGHT - 4, bottom - 4, row.level_number, row.min,
		    row.max);
	}
	int32_t top_min = table->entries[table->count - 1].min;
	if (top_min >= box.coolest && top_min <= box.hottest)
		fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" "
		    "y2=\"%.1f\" stroke=\"#d7191c\" stroke-dasharray=\"6 4\"/>\n",
		    LEFT, y_of(box, top_min), LEFT + PLOT_WIDTH,
		    y_of(box, top_min));
}

static double
tick_step(double range, const double *steps, size_t count)
{
	for (size_t i = 0; i < count; i++) {
		if (range / steps[i] <= MAX_TICKS)
			return steps[i];
	}
	return steps[count - 1] * std::ceil(range / steps[count - 1] / MAX_TICKS);
}

/* In the largest unit the ticks are whole in. */
static std::string
time_label(double at, double step)
{
	char text[32];

	if (std::fmod(step, 3600) == 0)
		snprintf(text, sizeof(text), "%.0f h", at / 3600);
	else if (std::fmod(step, 60) == 0)
		snprintf(text, sizeof(text), "%.0f min", at / 60);
	else
		snprintf(text, sizeof(text), "%.0f s", at);
	return text;
}

static void
draw_degree_labels(FILE *out, const frame &box)
{
	static const double steps[] = {1, 2, 5, 10, 20, 50};
	double step = tick_step(box.hottest - box.coolest, steps,
	    std::size(steps));
	auto first = static_cast<int64_t>(std::ceil(box.coolest / step));
	auto last = static_cast<int64_t>(std::floor(box.hottest / step));

	for (int64_t tick = first; tick <= last; tick++) {
		double celsius = static_cast<double>(tick) * step;
		fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" "
		    "text-anchor=\"end\">%.0f C</text>\n", LEFT - 6,
		    y_of(box, celsius) + 4, celsius);
	}
	for (int32_t level = 0; level < LEVEL_LIMIT; level += LEVEL_LIMIT - 1)
		fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" "
		    "text-anchor=\"end\">%d</text>\n", LEFT - 6,
		    y_of_level(level) + 4, level);
}

static void
draw_time_ticks(FILE *out, const frame &box)
{
	static const double steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600,
	    900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
	double step = tick_step(box.end, steps, std::size(steps));
	auto last = static_cast<int64_t>(std::floor(box.end / step));

	for (int64_t tick = 0; tick <= last; tick++) {
		double at = static_cast<double>(tick) * step;
		double x = LEFT + PLOT_WIDTH * at / box.end;
		fprintf(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" "
		    "y2=\"%.1f\" stroke=\"#ccc\"/>\n", x, HEAT_TOP, x,
		    FAN_TOP + FAN_HEIGHT);
		fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" "
		    "text-anchor=\"middle\">%s</text>\n", x,
		    FAN_TOP + FAN_HEIGHT + 16, time_label(at, step).c_str());
	}
}

static void
draw_frames(FILE *out)
{
	fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
	    "height=\"%.1f\" fill=\"none\" stroke=\"#888\"/>\n", LEFT,
	    HEAT_TOP, PLOT_WIDTH, HEAT_HEIGHT);
	fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
	    "height=\"%.1f\" fill=\"none\" stroke=\"#888\"/>\n", LEFT,
	    FAN_TOP, PLOT_WIDTH, FAN_HEIGHT);
	fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\">fan level"
	    "</text>\n", LEFT + 4, FAN_TOP - 6);
}

static void
put_point(FILE *out, const frame &box, const curve_point &point)
{
	fprintf(out, "%.1f,%.1f ", x_of(box, point.at), y_of(box, point.celsius));
}

/*
 * A day of samples would make a file no browser opens gladly: each column
 * of pixels keeps its first, lowest, highest and last point, in order.
 * The points from first up to end all have a temperature.
 */
static void
draw_known_temperature(FILE *out, const frame &box,
    const std::vector<curve_point> &curve, size_t first, size_t end)
{
	/* The last reading holds until the failed read that follows it. */
	int64_t held_until = end < curve.size() ? curve[end].at : -1;

	fprintf(out, "<polyline fill=\"none\" stroke=\"#222\" "
	    "stroke-width=\"1.2\" points=\"");
	while (first < end) {
		int column = static_cast<int>(x_of(box, curve[first].at) - LEFT);
		size_t last = first, low = first, high = first;
		while (last + 1 < end && static_cast<int>(
		    x_of(box, curve[last + 1].at) - LEFT) == column) {
			last++;
			if (curve[last].celsius < curve[low].celsius)
				low = last;
			if (curve[last].celsius > curve[high].celsius)
				high = last;
		}
		size_t kept[] = {first, std::min(low, high), std::max(low, high),
		    last};
		for (size_t i = 0; i < std::size(kept); i++) {
			if (i == 0 || kept[i] != kept[i - 1])
				put_point(out, box, curve[kept[i]]);
		}
		first = last + 1;
	}
	if (held_until >= 0)
		put_point(out, box, curve_point{held_until,
		    curve[end - 1].celsius});
	fprintf(out, "\"/>\n");
}

/* A line for each stretch of readings; a failed read leaves a gap. */
static void
draw_temperature(FILE *out, const frame &box, const run_record &run)
{
	const std::vector<curve_point> &curve = run.curve;
	size_t first = 0;

	while (first < curve.size()) {
		size_t end = first;
		while (end < curve.size() && !std::isnan(curve[end].celsius))
			end++;
		if (end > first)
			draw_known_temperature(out, box, curve, first, end);
		first = end + 1;
	}
}

/* While the sensor is lost the firmware runs the fan: a grey band. */
static void
draw_firmware(FILE *out, const frame &box, int64_t from, int64_t until)
{
	double left = x_of(box, from), width = x_of(box, until) - left;

	fprintf(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
	    "height=\"%.1f\" fill=\"#888\" fill-opacity=\"0.35\"/>\n", left,
	    FAN_TOP, width, FAN_HEIGHT);
	if (width >= FIRMWARE_LABEL_WIDTH)
		fprintf(out, "<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" "
		    "text-anchor=\"middle\" fill=\"#333\">firmware</text>\n",
		    left + width / 2, FAN_TOP + FAN_HEIGHT / 2 + 4);
}

/* The level as a stepped line, broken where the firmware had the fan. */
static void
draw_levels(FILE *out, const frame &box, const run_record &run,
    const level_table *table)
{
	bool drawing = false;

	for (const level_stay &stay : level_stays(run)) {
		if (stay.index == HANDED_BACK) {
			if (drawing)
				fprintf(out, "\"/>\n");
			drawing = false;
			draw_firmware(out, box, stay.from, stay.until);
			continue;
		}
		if (!drawing)
			fprintf(out, "<polyline fill=\"none\" stroke=\"#d95f02\" "
			    "stroke-width=\"1.5\" points=\"");
		drawing = true;
		double y = y_of_level(table->entries[stay.index].level_number);
		fprintf(out, "%.1f,%.1f %.1f,%.1f ", x_of(box, stay.from), y,
		    x_of(box, stay.until), y);
	}
	if (drawing)
		fprintf(out, "\"/>\n");
}

void
write_svg(FILE *out, const run_record &run, const level_table *table,
    const char *title)
{
	frame box = frame_of(run);

	fprintf(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
	fprintf(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" "
	    "width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
	    "font-family=\"sans-serif\">\n", WIDTH, HEIGHT, WIDTH, HEIGHT);
	fprintf(out, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
	fprintf(out, "<text x=\"%.1f\" y=\"24\" font-size=\"14\">%s</text>\n",
	    LEFT, escaped(title).c_str());
	draw_bands(out, box, table);
	draw_degree_labels(out, box);
	draw_time_ticks(out, box);
	draw_frames(out);
	draw_temperature(out, box, run);
	draw_levels(out, box, run, table);
	fprintf(out, "</svg>\n");
}
