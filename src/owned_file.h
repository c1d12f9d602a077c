/* A stdio stream closed by its owner however the reading ends. */
#ifndef COOLRUNG_OWNED_FILE_H
#define COOLRUNG_OWNED_FILE_H

#include <cstdio>
#include <memory>

/* The standard input, which a tool may read as "-", stays with the process. */
struct file_closer {
	void operator()(FILE *file) const
	{
		if (file != stdin)
			(void)fclose(file);
	}
};
using owned_file = std::unique_ptr<FILE, file_closer>;

#endif
