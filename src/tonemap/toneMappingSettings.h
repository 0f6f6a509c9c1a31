#pragma once
// All tone-mapping parameters of one look, with their derived tables.

#include "tonemap/toneMappingTables.h"

struct toneMappingSettings_t {
    toneMappingTables_t tables;
};
