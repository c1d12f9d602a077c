/* A level table of the given rows, held as load_config holds one. */
#ifndef COOLRUNG_TEST_TABLE_H
#define COOLRUNG_TEST_TABLE_H

#include <initializer_list>

#include "config.h"

inline level_table
table_of(std::initializer_list<level_entry> rows)
{
	return level_table{rows, static_cast<int32_t>(rows.size())};
}

#endif
