/*
 * A line built in a fixed buffer with plain loops: no allocation and no
 * stdio, so a signal handler may build one.  Text past the end is cut, and
 * the line remembers that it was.
 */
#ifndef COOLRUNG_SAFE_TEXT_H
#define COOLRUNG_SAFE_TEXT_H

#include <cstddef>

constexpr size_t SAFE_TEXT_SIZE = 1024;

/* A size of its own for text that must hold a whole path. */
template <size_t SIZE>
struct safe_text_of {
	char text[SIZE];
	size_t length;
	bool cut;	/* some text did not fit */
};

using safe_text = safe_text_of<SAFE_TEXT_SIZE>;

template <size_t SIZE>
void
safe_append(safe_text_of<SIZE> *line, const char *text)
{
	while (*text != '\0' && line->length + 1 < sizeof(line->text))
		line->text[line->length++] = *text++;
	line->text[line->length] = '\0';
	if (*text != '\0')
		line->cut = true;
}

template <size_t SIZE>
void
safe_append_number(safe_text_of<SIZE> *line, long long value)
{
	char digits[24];
	size_t at = sizeof(digits) - 1;
	unsigned long long magnitude = value < 0 ?
	    0ULL - static_cast<unsigned long long>(value) :
	    static_cast<unsigned long long>(value);

	digits[at] = '\0';
	do {
		digits[--at] = static_cast<char>('0' + magnitude % 10);
		magnitude /= 10;
	} while (magnitude != 0);
	if (value < 0)
		digits[--at] = '-';
	safe_append(line, digits + at);
}

#endif
