// The logging and reporting command's pieces that tests reach.
#pragma once

// The template type a -P word selects: the first type of the table that the
// word begins (the empty word selects "ipv4"); null when none does.
const char *lrf_template_type_of(const char *word);
