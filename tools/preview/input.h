/*
 * The preview's input files, the trace and the model file, read a bounded
 * line at a time.
 */
#ifndef COOLRUNG_PREVIEW_INPUT_H
#define COOLRUNG_PREVIEW_INPUT_H

#include <cstdio>

#include "owned_file.h"

/* Bytes a line of a trace or a model file may hold, its line end aside. */
constexpr int MAX_INPUT_LINE = 4096;

struct line_reader {
	FILE *file;
	const char *name;	/* heads the messages: "trace.csv:12: ..." */
	long long number;	/* of the line last read, from 1 */
	char text[MAX_INPUT_LINE + 1];
};

/*
 * Reads the next line into reader->text without its line end; false at the
 * end of the file.  A longer line, or one holding a NUL byte, is raised as a
 * fault of the file (EX_DATAERR), a read error as EX_IOERR.  Nothing is
 * allocated, so a file of any size reads in fixed memory.
 */
bool next_line(line_reader *reader);

/*
 * text without the blanks (spaces, tabs) before it, nor the blanks and
 * line ends ("\r\n" too) after it; cut in place.
 */
char *trimmed(char *text);

#endif
