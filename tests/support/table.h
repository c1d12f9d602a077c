/* The tests' level tables: as a file's text, and as load_config holds one. */
#ifndef COOLRUNG_TEST_TABLE_H
#define COOLRUNG_TEST_TABLE_H

#include <initializer_list>
#include <string>

#include "config.h"

/* Three rows whose overlaps hold the level: 0-55, 50-65 and 60-150. */
inline const std::string TABLE_TEXT =
    "level(0,0,55)\nlevel(2,50,65)\nlevel(7,60,150)\n";

inline level_table
table_of(std::initializer_list<level_entry> rows)
{
	return level_table{rows, static_cast<int32_t>(rows.size())};
}

#endif
