/* The run as an SVG picture: the temperature over the rows, the fan below. */
#ifndef COOLRUNG_PREVIEW_SVG_H
#define COOLRUNG_PREVIEW_SVG_H

#include <cstdio>

#include "config.h"
#include "run.h"

void write_svg(FILE *out, const run_record &run, const level_table *table,
    const char *title);

#endif
