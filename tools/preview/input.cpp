/*
 * The trace and the model file are read a bounded line at a time: a file
 * of any length, /dev/zero included, either reads in fixed memory or ends
 * in a message naming the line.
 */
#include "input.h"

#include <cerrno>
#include <cstring>

#include "fatal.h"

bool
next_line(line_reader *reader)
{
	int length = 0, c;
	bool nul = false;

	while ((c = getc_unlocked(reader->file)) != EOF && c != '\n') {
		if (length == MAX_INPUT_LINE)
			fail(EX_DATAERR, "%s:%lld: line longer than %d bytes",
			    reader->name, reader->number + 1, MAX_INPUT_LINE);
		nul |= c == '\0';
		reader->text[length++] = static_cast<char>(c);
	}
	if (ferror(reader->file))
		fail_with(EX_IOERR, errno, "%s", reader->name);
	if (c == EOF && length == 0)
		return false;
	reader->number++;
	reader->text[length] = '\0';
	/* The fields are C strings: a NUL would hide the rest of the line. */
	if (nul)
		fail(EX_DATAERR, "%s:%lld: NUL byte in the line", reader->name,
		    reader->number);
	return true;
}

char *
trimmed(char *text)
{
	size_t length;

	text += strspn(text, " \t");
	length = strlen(text);
	while (length > 0 && strchr(" \t\r\n", text[length - 1]) != nullptr)
		text[--length] = '\0';
	return text;
}
