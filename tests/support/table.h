/* A level table of the given rows, held as load_config holds one. */
#ifndef COOLRUNG_TEST_TABLE_H
#define COOLRUNG_TEST_TABLE_H

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "config.h"

inline level_table
table_of(std::initializer_list<level_entry> rows)
{
	auto *copy = static_cast<level_entry *>(
	    malloc(rows.size() * sizeof(level_entry)));
	memcpy(copy, rows.begin(), rows.size() * sizeof(level_entry));
	return level_table{{copy, free_rows{}}, static_cast<int32_t>(rows.size())};
}

#endif
